// SideFileReader: the colour-box table and the per-pixel box offsets, most significant bit first.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "decoder/decode_messages.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

class SideFileReader final {
  public:
    static constexpr uint32_t kMaxBoxes = 256;

    // Reads the header, the minima and the width table; throws EDecodeError when they are
    // malformed or cut short.
    explicit SideFileReader(std::span<const uint8_t> bytes);

    [[nodiscard]] uint32_t BoxCount() const noexcept { return boxCount_; }
    [[nodiscard]] uint8_t Minimum(uint32_t channel, uint32_t box) const noexcept {
        return boxes_[box].minimum[channel];
    }
    [[nodiscard]] uint8_t Width(uint32_t channel, uint32_t box) const noexcept {
        return boxes_[box].width[channel];
    }

    // The three residual bytes of the next box-coded pixel, whose box is `box`, packed as
    // red | green << 8 | blue << 16: each channel's box minimum plus the offset read for it
    // (modulo 256). Throws when `box` is not in the table or the file ends first.
    [[nodiscard]] uint32_t ReadPackedResiduals(uint32_t box) {
        if (box >= boxCount_) [[unlikely]]
            throw EDecodeError(decode_messages::kBoxOutOfRange);
        const Box& b = boxes_[box];
        uint32_t offsets = 0;
        if (b.totalWidth != 0) offsets = ReadBits(b.totalWidth);
        // The three fields were written one after another, channel 0 first. Each offset is
        // below 128, so adding it to the minimum's low seven bits carries into no other byte;
        // the minimum's top bit is then added without carry, which is the sum modulo 256.
        const uint32_t spread = offsets >> b.shift0 | ((offsets >> b.shift1) & b.mask1) << 8 |
                                (offsets & b.mask2) << 16;
        return ((b.packedMinimum & 0x7F7F7F) + spread) ^ (b.packedMinimum & 0x808080);
    }
    // The same as three bytes, red, green, blue.
    void ReadResiduals(uint32_t box, uint8_t* residual) {
        const uint32_t packed = ReadPackedResiduals(box);
        for (int c = 0; c < 3; ++c)
            residual[c] = static_cast<uint8_t>(packed >> (8 * c));
    }

    // Throws unless the file ends with the byte that holds the last bit read.
    void CheckFullyRead() const;

  private:
    struct Box {
        std::array<uint8_t, 3> minimum{};
        std::array<uint8_t, 3> width{};
        uint32_t packedMinimum = 0;  // red | green << 8 | blue << 16
        uint32_t totalWidth = 0;
        uint32_t shift0 = 0;  // channel 0's field sits above the other two
        uint32_t shift1 = 0;
        uint32_t mask1 = 0;
        uint32_t mask2 = 0;
    };

    // 1 <= n <= 32.
    uint32_t ReadBits(uint32_t n) {
        if (n > bitsLeft_) [[unlikely]]
            throw EDecodeError(decode_messages::kSideFileTooShort);
        bitsLeft_ -= n;
        if (count_ < n) Refill();
        const auto value = static_cast<uint32_t>(buffer_ >> (64 - n));
        buffer_ <<= n;
        count_ -= n;
        return value;
    }
    void Refill() noexcept;

    std::span<const uint8_t> bytes_;
    size_t nextByte_ = 0;
    uint64_t buffer_ = 0;  // the next bit is the top bit
    uint32_t count_ = 0;
    uint64_t bitsLeft_ = 0;  // bits of the file not yet read
    uint32_t boxCount_ = 0;
    std::array<Box, kMaxBoxes> boxes_{};
};

}  // namespace quenpix
