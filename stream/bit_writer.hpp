// BitWriter: packs the image stream's bits, least significant first, into IDAT chunks.
#pragma once

#include <cstdint>

#include "encoder/chunk_writer.hpp"

namespace quenpix {

// Copyable: a hot loop may work on a local copy, whose bits then stay in registers, and assign
// it back when done.
class BitWriter final {
  public:
    explicit BitWriter(ChunkWriter& chunks) noexcept : chunks_(&chunks) {}

    // Appends the low `count` bits of value (count <= 24).
    void WriteBits(uint32_t value, uint32_t count) {
        accumulator_ |= static_cast<uint64_t>(value & ((1u << count) - 1)) << bitCount_;
        bitCount_ += count;
        if (bitCount_ >= 32) {
            chunks_->PutStreamWord(static_cast<uint32_t>(accumulator_));
            accumulator_ >>= 32;
            bitCount_ -= 32;
        }
    }
    // Completes the byte being filled with zero bits; a stream that ends on a byte boundary
    // gains nothing.
    void FlushBits() {
        while (bitCount_ > 0) {
            chunks_->PutStreamByte(static_cast<uint8_t>(accumulator_));
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
    ChunkWriter* chunks_;
    uint64_t accumulator_ = 0;
    uint32_t bitCount_ = 0;
};

// The header bytes for a window of `windowBytes` and a compression level.
[[nodiscard]] uint8_t StreamHeaderCmf(uint32_t windowBytes) noexcept;
[[nodiscard]] uint8_t StreamHeaderFlg(uint8_t cmf, int32_t compressionLevel) noexcept;

}  // namespace quenpix
