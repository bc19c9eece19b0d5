// BitReader: the image stream's bits, least significant bit of each byte first, 64 at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "decoder/decode_messages.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

// How many times a reader without bounds tests may load eight bytes ahead, with `available`
// bytes left and at most `bitsPerStep` bits taken between two loads. After steps that have
// taken C bits it has moved fewer than 8 + C / 8 bytes on, and each load needs eight bytes.
[[nodiscard]] constexpr size_t UncheckedSteps(size_t available, uint32_t bitsPerStep) noexcept {
    return available < 16 ? 0 : (available - 16) * 8 / bitsPerStep + 1;
}

class BitReader final {
  public:
    // A refill leaves at least this many bits in the buffer: enough for a length code, its
    // extra bits, a distance code and its extra bits (15 + 5 + 15 + 13).
    static constexpr uint32_t kRefillBits = 56;

    // The bytes of `pieces`, one piece after another (the data of the IDAT chunks, read where
    // they lie in the file). The pieces must outlive the reader.
    explicit BitReader(std::span<const std::span<const uint8_t>> pieces) noexcept
        : pieces_(pieces) {
        for (const auto& piece : pieces)
            dataBytes_ += piece.size();
    }
    // The bytes of `data`, which must outlive the reader.
    explicit BitReader(std::span<const uint8_t> data) noexcept
        : dataBytes_(data.size()),
          begin_(data.data()),
          next_(data.data()),
          end_(data.data() + data.size()) {}

    // The buffer and the next byte alone, for a loop that stays far enough from the end of the
    // piece that every refill reads eight bytes in place: no bounds test, and state few enough
    // to live in registers.
    class Unchecked final {
      public:
        void Refill() noexcept {
            buffer_ |= LoadLittleEndian64(next_) << count_;
            next_ += (63 - count_) >> 3;
            count_ |= 56;
        }
        [[nodiscard]] uint64_t Peek() const noexcept { return buffer_; }
        void Consume(uint32_t n) noexcept {
            buffer_ >>= n;
            count_ -= n;
        }

      private:
        friend class BitReader;
        Unchecked(uint64_t buffer, uint32_t count, const uint8_t* next) noexcept
            : buffer_(buffer), count_(count), next_(next) {}

        uint64_t buffer_;
        uint32_t count_;
        const uint8_t* next_;
    };

    // How many refills an Unchecked reader may make, at most `bitsBetween` bits being taken
    // between two of them.
    [[nodiscard]] size_t UncheckedRefills(uint32_t bitsBetween) const noexcept {
        return UncheckedSteps(static_cast<size_t>(end_ - next_), bitsBetween);
    }
    [[nodiscard]] Unchecked Fast() const noexcept { return {buffer_, count_, next_}; }
    void Resume(const Unchecked& fast) noexcept {
        buffer_ = fast.buffer_;
        count_ = fast.count_;
        next_ = fast.next_;
    }

    void Refill() {
        if (end_ - next_ >= 8) [[likely]] {
            Unchecked fast = Fast();
            fast.Refill();
            Resume(fast);
            return;
        }
        // Through a copy, so that a reader kept in a loop's registers need not live in memory.
        *this = RefilledNearEnd(*this);
    }

    // The buffered bits, the next one lowest; only the lowest BufferedBits() are meaningful.
    [[nodiscard]] uint64_t Peek() const noexcept { return buffer_; }
    [[nodiscard]] uint32_t BufferedBits() const noexcept { return count_; }
    void Consume(uint32_t n) noexcept {
        buffer_ >>= n;
        count_ -= n;
    }
    // n <= 32 bits, which must be buffered already.
    [[nodiscard]] uint32_t TakeBits(uint32_t n) noexcept {
        const auto value = static_cast<uint32_t>(buffer_ & ((uint64_t{1} << n) - 1));
        Consume(n);
        return value;
    }
    // n <= 32 bits, refilling first when needed.
    [[nodiscard]] uint32_t ReadBits(uint32_t n) {
        if (count_ < n) Refill();
        return TakeBits(n);
    }
    // Drops the rest of the byte being read: bytes enter the buffer whole, so the bits left
    // of that byte are the buffered count modulo 8.
    void AlignToByte() noexcept { Consume(count_ & 7); }

    // Bits consumed so far; beyond 8 x the data size when zero padding was consumed.
    [[nodiscard]] uint64_t BitPosition() const noexcept {
        return (bytesBefore_ + static_cast<uint64_t>(next_ - begin_) + padBytes_) * 8 - count_;
    }
    [[nodiscard]] uint64_t DataBits() const noexcept { return dataBytes_ * 8; }

  private:
    // Byte by byte within the last eight bytes of a piece, going on to the next piece at its
    // end. Past the end of the data the reader supplies zero bits; once a whole buffer of them
    // has gone in, some must have been consumed, and the stream is refused as truncated. Kept out
    // of line, away from the decoding loops.
    [[nodiscard]] static BitReader RefilledNearEnd(BitReader reader);

    static uint64_t LoadLittleEndian64(const uint8_t* p) noexcept {
        uint64_t word = 0;
        std::memcpy(&word, p, sizeof word);
        if constexpr (std::endian::native == std::endian::big) {
            uint64_t swapped = 0;
            for (int i = 0; i < 8; ++i)
                swapped |= uint64_t{p[i]} << (8 * i);
            word = swapped;
        }
        return word;
    }

    std::span<const std::span<const uint8_t>> pieces_;
    size_t nextPiece_ = 0;
    uint64_t dataBytes_ = 0;
    // The piece being read, and the bytes of the pieces before it.
    const uint8_t* begin_ = nullptr;
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t bytesBefore_ = 0;
    uint64_t buffer_ = 0;
    uint32_t count_ = 0;
    uint32_t padBytes_ = 0;
};

}  // namespace quenpix
