// BitWriter: packs the image stream's bits, least significant first, into IDAT chunks.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "encoder/chunk_writer.hpp"

namespace quenpix {

// Copyable: a hot loop may work on a local copy, whose bits then stay in registers, and assign
// it back when done. The sink takes the bits 32 at a time (PutStreamWord) and, at the end of the
// stream, byte by byte (PutStreamByte).
template <typename Sink>
class BasicBitWriter final {
  public:
    explicit BasicBitWriter(Sink& sink) noexcept : sink_(&sink) {}

    // Appends the low `count` bits of value (count <= 24).
    void WriteBits(uint32_t value, uint32_t count) {
        accumulator_ |= static_cast<uint64_t>(value & ((1u << count) - 1)) << bitCount_;
        bitCount_ += count;
        if (bitCount_ >= 32) {
            sink_->PutStreamWord(static_cast<uint32_t>(accumulator_));
            accumulator_ >>= 32;
            bitCount_ -= 32;
        }
    }
    // Appends bits gathered by another writer: its whole words, then its `count` pending bits.
    void AppendBits(std::span<const uint32_t> words, uint32_t pending, uint32_t count) {
        for (const uint32_t word : words) {
            accumulator_ |= uint64_t{word} << bitCount_;
            sink_->PutStreamWord(static_cast<uint32_t>(accumulator_));
            accumulator_ >>= 32;
        }
        if (count > 16) {
            WriteBits(pending, 16);
            pending >>= 16;
            count -= 16;
        }
        WriteBits(pending, count);
    }
    // The bits not yet handed to the sink: fewer than 32.
    [[nodiscard]] uint32_t PendingBits() const noexcept {
        return static_cast<uint32_t>(accumulator_);
    }
    [[nodiscard]] uint32_t PendingCount() const noexcept { return bitCount_; }

    // Completes the byte being filled with zero bits; a stream that ends on a byte boundary
    // gains nothing.
    void FlushBits() {
        while (bitCount_ > 0) {
            sink_->PutStreamByte(static_cast<uint8_t>(accumulator_));
            accumulator_ >>= 8;
            bitCount_ = bitCount_ > 8 ? bitCount_ - 8 : 0;
        }
        accumulator_ = 0;
    }
    // The two header bytes: 0x98 for the 2^17-byte window field, then the level's flag byte.
    void WriteStreamHeader(int32_t compressionLevel);
    // Flushes and appends the checksum, most significant byte first.
    void WriteStreamTrailer(uint32_t adler);

  private:
    Sink* sink_;
    uint64_t accumulator_ = 0;
    uint32_t bitCount_ = 0;
};

// The image stream, into IDAT chunks.
using BitWriter = BasicBitWriter<ChunkWriter>;
template <>
void BitWriter::WriteStreamHeader(int32_t compressionLevel);
template <>
void BitWriter::WriteStreamTrailer(uint32_t adler);

// Whole words of a part of the stream gathered in memory, to be appended later (AppendBits).
struct StreamWords {
    std::vector<uint32_t> words;
    void PutStreamWord(uint32_t word) { words.push_back(word); }
};

// The header bytes for a window of `windowBytes` and a compression level.
[[nodiscard]] uint8_t StreamHeaderCmf(uint32_t windowBytes) noexcept;
[[nodiscard]] uint8_t StreamHeaderFlg(uint8_t cmf, int32_t compressionLevel) noexcept;

}  // namespace quenpix
