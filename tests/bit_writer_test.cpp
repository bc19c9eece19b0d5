// Bit packing, stream header and trailer, and the cutting of the stream into IDAT chunks.
#include "stream/bit_writer.hpp"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "format/adler32.hpp"

namespace quenpix {
namespace {

// The chunks a stream produced, as (length, data) pairs.
std::vector<std::vector<uint8_t>> ChunkData(const std::string& file) {
    std::vector<std::vector<uint8_t>> chunks;
    size_t at = 0;
    while (at + 12 <= file.size()) {
        const uint32_t length =
            static_cast<uint8_t>(file[at]) << 24 | static_cast<uint8_t>(file[at + 1]) << 16 |
            static_cast<uint8_t>(file[at + 2]) << 8 | static_cast<uint8_t>(file[at + 3]);
        chunks.emplace_back(file.begin() + static_cast<long>(at + 8),
                            file.begin() + static_cast<long>(at + 8 + length));
        at += 12 + length;
    }
    return chunks;
}

TEST(BitWriter, PacksLeastSignificantBitFirstAndPadsTheLastByte) {
    std::ostringstream out;
    ChunkWriter chunks(out);
    chunks.StartChunk("IDAT");
    BitWriter bits(chunks);
    bits.WriteBits(1, 1);
    bits.WriteBits(2, 2);
    bits.WriteBits(0x1F, 5);  // completes the first byte exactly
    bits.WriteBits(0x5, 3);
    bits.FlushBits();
    chunks.EmitChunk();
    const auto data = ChunkData(out.str());
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0], (std::vector<uint8_t>{0xFD, 0x05}));
}

TEST(BitWriter, StreamEndingOnAByteBoundaryGainsNoByte) {
    std::ostringstream out;
    ChunkWriter chunks(out);
    chunks.StartChunk("IDAT");
    BitWriter bits(chunks);
    bits.WriteStreamHeader(2);
    bits.WriteBits(0xAB, 8);
    bits.WriteStreamTrailer(0x01020304);
    chunks.EmitChunk();
    const auto data = ChunkData(out.str());
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0], (std::vector<uint8_t>{0x98, 0x94, 0xAB, 1, 2, 3, 4}));
}

TEST(BitWriter, HeaderBytesFollowTheLevel) {
    const uint8_t cmf = StreamHeaderCmf(98304);
    EXPECT_EQ(cmf, 0x98);
    EXPECT_EQ(StreamHeaderFlg(cmf, 0), 0x18);
    EXPECT_EQ(StreamHeaderFlg(cmf, 1), 0x56);
    EXPECT_EQ(StreamHeaderFlg(cmf, 2), 0x94);
    EXPECT_EQ(StreamHeaderFlg(cmf, 3), 0xD2);
}

TEST(BitWriter, ExactlyFullChunkIsEmittedOnlyWhenMoreDataFollows) {
    // 8190 data bytes + 2 header bytes fill one chunk; the trailer opens the next.
    std::ostringstream out;
    ChunkWriter chunks(out);
    chunks.StartChunk("IDAT");
    BitWriter bits(chunks);
    bits.WriteStreamHeader(2);
    for (int i = 0; i < 8190; ++i)
        bits.WriteBits(static_cast<uint32_t>(i & 0xFF), 8);
    bits.WriteStreamTrailer(0xA1B2C3D4);
    chunks.EmitChunk();
    const auto data = ChunkData(out.str());
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[0].size(), 8192u);
    EXPECT_EQ(data[1], (std::vector<uint8_t>{0xA1, 0xB2, 0xC3, 0xD4}));
}

TEST(BitWriter, TrailerMayStraddleTwoChunks) {
    std::ostringstream out;
    ChunkWriter chunks(out);
    chunks.StartChunk("IDAT");
    BitWriter bits(chunks);
    bits.WriteStreamHeader(2);
    for (int i = 0; i < 8188; ++i)
        bits.WriteBits(0, 8);
    bits.WriteBits(1, 3);  // a partial byte: 8191 bytes after the flush
    bits.WriteStreamTrailer(0xA1B2C3D4);
    chunks.EmitChunk();
    const auto data = ChunkData(out.str());
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[0].size(), 8192u);
    EXPECT_EQ(data[0][8190], 1);
    EXPECT_EQ(data[0][8191], 0xA1);
    EXPECT_EQ(data[1], (std::vector<uint8_t>{0xB2, 0xC3, 0xD4}));
}

TEST(Adler32, BytewiseAndBulkAgree) {
    EXPECT_EQ(UpdateAdler32(UpdateAdler32(UpdateAdler32(1u, uint8_t{1}), uint8_t{2}), uint8_t{3}),
              13u * 65536 + 7);
    std::vector<uint8_t> data(20000);
    uint32_t seed = 12345;
    for (auto& b : data) {
        seed = seed * 1103515245 + 12345;
        b = static_cast<uint8_t>(seed >> 16);
    }
    uint32_t bytewise = 1;
    for (const uint8_t b : data)
        bytewise = UpdateAdler32(bytewise, b);
    EXPECT_EQ(UpdateAdler32(1u, data), bytewise);
}

}  // namespace
}  // namespace quenpix
