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
