// Chunk framing, CRC and the fixed chunks of the container.
#include "encoder/chunk_writer.hpp"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "format/crc32.hpp"
#include "image/exceptions.hpp"

namespace quenpix {
namespace {

std::vector<uint8_t> Bytes(const std::ostringstream& out) {
    const std::string s = out.str();
    return {s.begin(), s.end()};
}

std::vector<uint8_t> Chunk(const char (&type)[5], std::vector<uint8_t> data) {
    std::ostringstream out;
    ChunkWriter chunks(out);
    chunks.WriteChunk(type, data);
    return Bytes(out);
}

TEST(ChunkWriter, FixedChunksHaveTheirKnownBytes) {
    EXPECT_EQ(Chunk("IEND", {}),
              (std::vector<uint8_t>{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82}));
    EXPECT_EQ(Chunk("ncPr", {}),
              (std::vector<uint8_t>{0, 0, 0, 0, 'n', 'c', 'P', 'r', 0xB4, 0x9C, 0x67, 0x11}));
    EXPECT_EQ(Chunk("cmOd", {0x19}),
              (std::vector<uint8_t>{0, 0, 0, 1, 'c', 'm', 'O', 'd', 0x19, 0xCF, 0xC0, 0x19, 0xC0}));
}

TEST(ChunkWriter, ImageHeaderCarriesSizeAndTheCodecsOwnMethod) {
    const auto data = ImageHeaderData(640, 480);
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.end()),
              (std::vector<uint8_t>{0, 0, 2, 0x80, 0, 0, 1, 0xE0, 8, 2, 1, 0, 0}));
}

TEST(ChunkWriter, SignatureIsTheContainerMagic) {
    std::ostringstream out;
    ChunkWriter(out).WriteSignature();
    EXPECT_EQ(Bytes(out), (std::vector<uint8_t>{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
}

TEST(ChunkWriter, OverrunThrowsAndKeepsTheData) {
    std::ostringstream out;
    ChunkWriter chunks(out);
    chunks.StartChunk("IDAT");
    const std::vector<uint8_t> block(8000, 7);
    chunks.WriteChunkData(block);
    try {
        chunks.WriteChunkData(std::vector<uint8_t>(193, 1));
        FAIL() << "no exception for 8193 bytes";
    } catch (const EPngError& e) {
        EXPECT_STREQ(e.what(), "Output Buffer Overrun");
    }
    EXPECT_EQ(chunks.ChunkLength(), 8000u);
    chunks.WriteChunkData(std::vector<uint8_t>(192, 1));
    EXPECT_EQ(chunks.ChunkLength(), 8192u);
}

TEST(ChunkWriter, StreamBytesFillChunksOf8192WithoutAnEmptyOne) {
    std::ostringstream out;
    ChunkWriter chunks(out);
    chunks.StartChunk("IDAT");
    for (uint32_t i = 0; i < 8193; ++i)
        chunks.PutStreamByte(static_cast<uint8_t>(i));
    chunks.EmitChunk();
    const auto bytes = Bytes(out);
    ASSERT_EQ(bytes.size(), 12u + 8192 + 12 + 1);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[2], 0x20);      // length 8192
    EXPECT_EQ(bytes[8204 + 3], 1);  // second chunk holds one byte
    EXPECT_EQ(bytes[8204 + 8], static_cast<uint8_t>(8192));
}

TEST(Crc32, MatchesTheStandardCheckValue) {
    const std::string check = "123456789";
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(check.data()),
                                         check.size());
    EXPECT_EQ(Crc32(0xFFFFFFFFu, bytes) ^ 0xFFFFFFFFu, 0xCBF43926u);
}

}  // namespace
}  // namespace quenpix
