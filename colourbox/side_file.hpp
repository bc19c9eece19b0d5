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
    // Makes this an empty part of the offsets with room for `bits` bits: written apart (by
    // another thread) and appended to the side file in order with AppendPart.
    void StartPart(uint64_t bits);
    // Appends every bit written to `part`.
    void AppendPart(const SideFileBuffer& part) noexcept;
    // Appends a pixel's three offsets as one field of up to 24 bits (value < 2^n), most
    // significant bit first. Works on its own copy of the write position, meant to live in a
    // local variable of the writing loop: the byte being filled then stays in a register instead
    // of being read back from the buffer for every field. Commit() hands the position back.
    class FieldPacker {
      public:
        explicit FieldPacker(SideFileBuffer& buffer) noexcept
            : buffer_(&buffer),
              at_(buffer.data_.data() + buffer.bytePosition_),
              bit_(buffer.bitPosition_),
              partial_(bit_ != 0 ? *at_ : 0u) {}

        void Put(uint32_t value, uint32_t n) noexcept {
            if (n == 0) return;
            const uint32_t used = bit_ + n;
            const uint32_t bits = partial_ << 24 | value << (32 - used);
            // Whole bytes are stored: bytes past the field get zeros, as entering them would.
            at_[0] = static_cast<uint8_t>(bits >> 24);
            at_[1] = static_cast<uint8_t>(bits >> 16);
            at_[2] = static_cast<uint8_t>(bits >> 8);
            at_[3] = static_cast<uint8_t>(bits);
            const uint32_t whole = used >> 3;
            at_ += whole;
            bit_ = used & 7;
            partial_ = (bits << (8 * whole)) >> 24;
        }
        void Commit() const noexcept {
            buffer_->bytePosition_ = at_ - buffer_->data_.data();
            buffer_->bitPosition_ = static_cast<uint8_t>(bit_);
        }

      private:
        SideFileBuffer* buffer_;
        uint8_t* at_;
        uint32_t bit_;
        uint32_t partial_;  // the byte at at_, its first bit_ bits in use
    };

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
