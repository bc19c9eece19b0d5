// BitWriter: the stream header and trailer.
#include "stream/bit_writer.hpp"

#include "stream/match_finder.hpp"

namespace quenpix {

uint8_t StreamHeaderCmf(uint32_t windowBytes) noexcept {
    uint32_t k = 8;
    while ((uint64_t{1} << k) < windowBytes)
        ++k;
    return static_cast<uint8_t>(((k - 8) << 4) + 8);
}

uint8_t StreamHeaderFlg(uint8_t cmf, int32_t compressionLevel) noexcept {
    const uint32_t f = static_cast<uint8_t>(static_cast<uint32_t>(compressionLevel) << 6);
    // The check field is 31, not 0, when the remainder is already 0.
    return static_cast<uint8_t>(f | (31 - (uint32_t{cmf} * 256 + f) % 31));
}

template <>
void BitWriter::WriteStreamHeader(int32_t compressionLevel) {
    const uint8_t cmf = StreamHeaderCmf(kWindowBytes);
    WriteBits(cmf, 8);
    WriteBits(StreamHeaderFlg(cmf, compressionLevel), 8);
}

template <>
void BitWriter::WriteStreamTrailer(uint32_t adler) {
    FlushBits();
    for (int shift = 24; shift >= 0; shift -= 8) {
        sink_->PutStreamByte(static_cast<uint8_t>(adler >> shift));
    }
}

}  // namespace quenpix
