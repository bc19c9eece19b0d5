// SideFileReader: the colour-box table and the per-pixel box offsets, most significant bit first.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "decoder/bit_reader.hpp"
#include "decoder/decode_messages.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

class SideFileReader final {
  public:
    static constexpr uint32_t kMaxBoxes = 256;

    // Where the offsets are read next. A plain value, so that a decoding loop can keep a copy
    // in registers and hand it back (Offsets(), SetOffsets()).
    class Cursor final {
      public:
        Cursor() = default;
        explicit Cursor(std::span<const uint8_t> bits) noexcept
            : next_(bits.data()), end_(bits.data() + bits.size()) {}

        // 0 <= n <= 32 bits, most significant first; throws when the file ends first.
        [[nodiscard]] uint32_t ReadBits(uint32_t n) {
            if (count_ < n) Refill(n);
            // In two steps, so that n = 0 shifts by 32 at most.
            const auto value = static_cast<uint32_t>((buffer_ >> 32) >> (32 - n));
            buffer_ <<= n;
            count_ -= n;
            return value;
        }
        // Bits of the file not read yet: whole bytes enter the buffer only from the file.
        [[nodiscard]] uint64_t BitsLeft() const noexcept {
            return static_cast<uint64_t>(end_ - next_) * 8 + count_;
        }

        // The same reads for a loop that stays far enough from the file's end that every
        // refill reads eight bytes in place, without a bounds test.
        class Unchecked final {
          public:
            [[nodiscard]] uint32_t ReadBits(uint32_t n) noexcept {
                if (count_ < n) {
                    buffer_ |= LoadBigEndian64(next_) >> count_;
                    next_ += (63 - count_) >> 3;
                    count_ |= 56;
                }
                const auto value = static_cast<uint32_t>((buffer_ >> 32) >> (32 - n));
                buffer_ <<= n;
                count_ -= n;
                return value;
            }

          private:
            friend class Cursor;
            Unchecked(uint64_t buffer, uint32_t count, const uint8_t* next) noexcept
                : buffer_(buffer), count_(count), next_(next) {}

            uint64_t buffer_;
            uint32_t count_;
            const uint8_t* next_;
        };

        // How many reads of at most `bits` bits an Unchecked cursor may make.
        [[nodiscard]] size_t UncheckedReads(uint32_t bits) const noexcept {
            return UncheckedSteps(static_cast<size_t>(end_ - next_), bits);
        }
        [[nodiscard]] Unchecked Fast() const noexcept { return {buffer_, count_, next_}; }
        void Resume(const Unchecked& fast) noexcept {
            buffer_ = fast.buffer_;
            count_ = fast.count_;
            next_ = fast.next_;
        }

      private:
        // Eight bytes at a time, as many whole ones as fit below the buffered bits; the bits
        // below the last whole byte are those of the bytes that come next, so loading them
        // again at the same place later changes nothing. Within the last eight bytes, one at a
        // time, and the file is too short when n bits cannot be had.
        void Refill(uint32_t n) {
            if (end_ - next_ >= 8) [[likely]] {
                buffer_ |= LoadBigEndian64(next_) >> count_;
                next_ += (63 - count_) >> 3;
                count_ |= 56;
                return;
            }
            while (count_ <= 56 && next_ < end_) {
                buffer_ |= uint64_t{*next_++} << (56 - count_);
                count_ += 8;
            }
            if (count_ < n) throw EDecodeError(decode_messages::kSideFileTooShort);
        }
        static uint64_t LoadBigEndian64(const uint8_t* p) noexcept {
            uint64_t word = 0;
            std::memcpy(&word, p, sizeof word);
            if constexpr (std::endian::native == std::endian::little) {
                uint64_t swapped = 0;
                for (int i = 0; i < 8; ++i, word >>= 8)
                    swapped = swapped << 8 | (word & 0xFF);
                word = swapped;
            }
            return word;
        }

        const uint8_t* next_ = nullptr;
        const uint8_t* end_ = nullptr;
        uint64_t buffer_ = 0;  // the next bit is the top bit
        uint32_t count_ = 0;
    };

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

  public:
    // Offsets a pixel takes at most: three fields of up to 7 bits.
    static constexpr uint32_t kMaxOffsetBits = 21;

    // The box table as a plain value, which a decoding loop keeps in registers.
    class BoxTable final {
      public:
        BoxTable(const Box* boxes, uint32_t count) noexcept : boxes_(boxes), count_(count) {}

        // The three residual bytes of the next box-coded pixel, whose box is `box`, packed as
        // red | green << 8 | blue << 16: each channel's box minimum plus the offset read for
        // it at `at` (a Cursor or its Unchecked part), modulo 256. Throws when `box` is not in
        // the table or the file ends first.
        template <class At>
        [[nodiscard]] uint32_t ReadPackedResiduals(uint32_t box, At& at) const {
            if (box >= count_) [[unlikely]]
                throw EDecodeError(decode_messages::kBoxOutOfRange);
            const Box& b = boxes_[box];
            const uint32_t offsets = at.ReadBits(b.totalWidth);
            // The three fields were written one after another, channel 0 first. Each offset is
            // below 128, so adding it to the minimum's low seven bits carries into no other
            // byte; the minimum's top bit is then added without carry, which is the sum
            // modulo 256.
            const uint32_t spread = offsets >> b.shift0 | ((offsets >> b.shift1) & b.mask1) << 8 |
                                    (offsets & b.mask2) << 16;
            return ((b.packedMinimum & 0x7F7F7F) + spread) ^ (b.packedMinimum & 0x808080);
        }

      private:
        const Box* boxes_;
        uint32_t count_;
    };

    [[nodiscard]] BoxTable Boxes() const noexcept { return {boxes_.data(), boxCount_}; }
    [[nodiscard]] uint32_t ReadPackedResiduals(uint32_t box, Cursor& at) const {
        return Boxes().ReadPackedResiduals(box, at);
    }
    // The same as three bytes, red, green, blue, at the reader's own position.
    void ReadResiduals(uint32_t box, uint8_t* residual) {
        const uint32_t packed = ReadPackedResiduals(box, offsets_);
        for (int c = 0; c < 3; ++c)
            residual[c] = static_cast<uint8_t>(packed >> (8 * c));
    }

    [[nodiscard]] const Cursor& Offsets() const noexcept { return offsets_; }
    void SetOffsets(const Cursor& at) noexcept { offsets_ = at; }

    // Throws unless the file ends with the byte that holds the last bit read.
    void CheckFullyRead() const;

  private:
    Cursor offsets_;
    uint32_t boxCount_ = 0;
    std::array<Box, kMaxBoxes> boxes_{};
};

}  // namespace quenpix
