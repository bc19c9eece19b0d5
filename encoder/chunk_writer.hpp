// ChunkWriter: the container's signature and length/type/data/CRC chunks.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <span>

#include "format/container.hpp"

namespace quenpix {

// The 13 data bytes of IHDR: width and height big-endian, 8 bits per sample, three samples per
// pixel, compression method 1 (this codec's own stream), no filter, no interlace.
[[nodiscard]] std::array<uint8_t, 13> ImageHeaderData(uint32_t width, uint32_t height) noexcept;

class ChunkWriter final {
  public:
    explicit ChunkWriter(std::ostream& output) : output_(output) {}

    void WriteSignature();
    // Begins a chunk of the given four-letter type with no data.
    void StartChunk(const char (&type)[5]) noexcept;
    // Appends data; throws EPngError "Output Buffer Overrun" past 8192 bytes, changing nothing.
    void WriteChunkData(std::span<const uint8_t> bytes);
    // Writes length, type, data and CRC; the type stays for a further chunk of the same kind.
    void EmitChunk();
    // One whole chunk: start, data, emit.
    void WriteChunk(const char (&type)[5], std::span<const uint8_t> bytes);

    // Appends one byte of the image stream, first emitting the chunk if it is full: a full
    // chunk goes out only when more data follows, so no empty chunk is ever written.
    void PutStreamByte(uint8_t byte) {
        if (chunkLength_ == kChunkCapacity) EmitChunk();
        buffer_[chunkLength_++] = byte;
    }
    // Appends four stream bytes (little-endian order of `word`).
    void PutStreamWord(uint32_t word) {
        if (chunkLength_ + 4 <= kChunkCapacity) {
            buffer_[chunkLength_] = static_cast<uint8_t>(word);
            buffer_[chunkLength_ + 1] = static_cast<uint8_t>(word >> 8);
            buffer_[chunkLength_ + 2] = static_cast<uint8_t>(word >> 16);
            buffer_[chunkLength_ + 3] = static_cast<uint8_t>(word >> 24);
            chunkLength_ += 4;
            return;
        }
        for (int i = 0; i < 4; ++i)
            PutStreamByte(static_cast<uint8_t>(word >> (8 * i)));
    }

    [[nodiscard]] uint32_t ChunkLength() const noexcept { return chunkLength_; }

  private:
    std::ostream& output_;
    std::array<uint8_t, kChunkCapacity> buffer_{};
    std::array<uint8_t, 4> chunkType_{};
    uint32_t chunkLength_ = 0;
};

}  // namespace quenpix
