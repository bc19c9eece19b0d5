// SideFileBuffer: the box table and the per-pixel box offsets, packed most significant bit first.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "colourbox/colour_boxes.hpp"

namespace quenpix {

class SideFileBuffer final {
  public:
    // Starts the buffer: zero byte, box count, minima, then the 3-bit width table.
    // Sized from table.offsetBitCount, the most offset bits the pixels can need.
    void BuildSideFile(const ColourBoxTable& table);
    // Appends the low n bits of value (n <= 8, value < 2^n), most significant bit first.
    void PutBits(uint32_t value, uint32_t n) noexcept;
    // The same for up to 24 bits at once (value < 2^n): a pixel's three offsets in one call.
    void PutWideBits(uint32_t value, uint32_t n) noexcept {
        if (n == 0) return;
        uint8_t* at = data_.data() + bytePosition_;
        const uint32_t used = bitPosition_ + n;
        const uint32_t bits = uint32_t{at[0]} << 24 | value << (32 - used);
        // Whole bytes are stored: bytes past the field get zeros, as entering them would.
        at[0] = static_cast<uint8_t>(bits >> 24);
        at[1] = static_cast<uint8_t>(bits >> 16);
        at[2] = static_cast<uint8_t>(bits >> 8);
        at[3] = static_cast<uint8_t>(bits);
        bytePosition_ += used >> 3;
        bitPosition_ = static_cast<uint8_t>(used & 7);
    }
    // The bytes of the side file as it stands: up to the last byte holding at least one bit.
    // Empty when nothing was built.
    [[nodiscard]] std::span<const uint8_t> Contents() const noexcept;
    // Releases the buffer.
    void FreeSideFile() noexcept;

  private:
    std::vector<uint8_t> data_;
    int64_t bytePosition_ = 0;
    uint8_t bitPosition_ = 0;
};

}  // namespace quenpix
