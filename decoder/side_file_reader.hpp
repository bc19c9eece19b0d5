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

    // The three residual bytes of the next box-coded pixel, whose box is `box`: each channel's
    // box minimum plus the offset read for it (modulo 256). Throws when `box` is not in the
    // table or the file ends first.
    void ReadResiduals(uint32_t box, uint8_t* residual) {
        if (box >= boxCount_) [[unlikely]]
            throw EDecodeError(decode_messages::kBoxOutOfRange);
        const Box& b = boxes_[box];
        uint32_t offsets = 0;
        if (b.totalWidth != 0) offsets = ReadBits(b.totalWidth);
        // The three fields were written one after another, channel 0 first.
        residual[0] = static_cast<uint8_t>(b.minimum[0] + (offsets >> b.shift0));
        residual[1] = static_cast<uint8_t>(b.minimum[1] + ((offsets >> b.shift1) & b.mask1));
        residual[2] = static_cast<uint8_t>(b.minimum[2] + (offsets & b.mask2));
    }

    // Throws unless the file ends with the byte that holds the last bit read.
    void CheckFullyRead() const;

  private:
    struct Box {
        std::array<uint8_t, 3> minimum{};
        std::array<uint8_t, 3> width{};
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
