// ChunkWriter: the container's signature and length/type/data/CRC chunks.
#include "encoder/chunk_writer.hpp"

#include <algorithm>
#include <ostream>

#include "format/crc32.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

namespace {
void WriteBigEndian(std::ostream& out, uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out.write(bytes, 4);
}
}  // namespace

std::array<uint8_t, 13> ImageHeaderData(uint32_t width, uint32_t height) noexcept {
    return {static_cast<uint8_t>(width >> 24),
            static_cast<uint8_t>(width >> 16),
            static_cast<uint8_t>(width >> 8),
            static_cast<uint8_t>(width),
            static_cast<uint8_t>(height >> 24),
            static_cast<uint8_t>(height >> 16),
            static_cast<uint8_t>(height >> 8),
            static_cast<uint8_t>(height),
            8,  // bit depth
            2,  // colour type: three samples per pixel
            kCompressionMethod,
            0,   // filter method
            0};  // interlace method
}

void ChunkWriter::WriteSignature() {
    output_.write(reinterpret_cast<const char*>(kFileSignature.data()), kFileSignature.size());
}

void ChunkWriter::StartChunk(const char (&type)[5]) noexcept {
    std::copy(type, type + 4, chunkType_.begin());
    chunkLength_ = 0;
}

void ChunkWriter::WriteChunkData(std::span<const uint8_t> bytes) {
    if (chunkLength_ + bytes.size() > kChunkCapacity) {
        throw EPngError(messages::kOutputBufferOverrun);
    }
    std::copy(bytes.begin(), bytes.end(), buffer_.begin() + chunkLength_);
    chunkLength_ += static_cast<uint32_t>(bytes.size());
}

void ChunkWriter::EmitChunk() {
    uint32_t crc = Crc32(0xFFFFFFFFu, chunkType_);
    crc = Crc32(crc, std::span(buffer_.data(), chunkLength_)) ^ 0xFFFFFFFFu;
    WriteBigEndian(output_, chunkLength_);
    output_.write(reinterpret_cast<const char*>(chunkType_.data()), 4);
    output_.write(reinterpret_cast<const char*>(buffer_.data()), chunkLength_);
    WriteBigEndian(output_, crc);
    chunkLength_ = 0;
}

void ChunkWriter::WriteChunk(const char (&type)[5], std::span<const uint8_t> bytes) {
    StartChunk(type);
    WriteChunkData(bytes);
    EmitChunk();
}

}  // namespace quenpix
