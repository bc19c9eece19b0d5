// Tests of the container reader: signature, chunk framing and CRCs, IHDR, private chunks, order.
#include "decoder/container_reader.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoded_image_support.hpp"
#include "decoder/decode_messages.hpp"
#include "encoder/chunk_writer.hpp"
#include "format/crc32.hpp"
#include "image/exceptions.hpp"

namespace quenpix {
namespace {

using Bytes = std::vector<uint8_t>;

using testing::Chunk;
using testing::PutBe;

Bytes Header(uint32_t width, uint32_t height, uint8_t depth = 8, uint8_t colourType = 2,
             uint8_t method = 1, uint8_t filter = 0, uint8_t interlace = 0) {
    Bytes data;
    PutBe(data, width);
    PutBe(data, height);
    for (const uint8_t b : {depth, colourType, method, filter, interlace})
        data.push_back(b);
    return Chunk("IHDR", data);
}

Bytes File(const std::vector<Bytes>& chunks) {
    Bytes file(kFileSignature.begin(), kFileSignature.end());
    for (const Bytes& chunk : chunks)
        file.insert(file.end(), chunk.begin(), chunk.end());
    return file;
}

std::string ErrorOf(const Bytes& file) {
    try {
        (void)ReadContainer(file);
    } catch (const EDecodeError& e) {
        return e.what();
    }
    return "";
}

const Bytes kIend = Chunk("IEND", {});

TEST(ContainerReader, TakesApartAWellFormedFile) {
    const Bytes file = File({Header(640, 480), Chunk("cmOd", {0x19}), Chunk("ncPr", {}),
                             Chunk("IDAT", {1, 2}), Chunk("IDAT", {}), Chunk("IDAT", {3}), kIend});
    const ContainerContents contents = ReadContainer(file);
    EXPECT_EQ(contents.width, 640u);
    EXPECT_EQ(contents.height, 480u);
    EXPECT_EQ(contents.transform.Packed(), 0x19);
    EXPECT_TRUE(contents.medResiduals);
    Bytes stream;
    for (const auto& piece : contents.imageStream)
        stream.insert(stream.end(), piece.begin(), piece.end());
    EXPECT_EQ(stream, (Bytes{1, 2, 3})) << "IDAT data in order, an empty chunk included";
    EXPECT_EQ(contents.ImageStreamBytes(), 3u);

    const ContainerContents plain = ReadContainer(File({Header(1, 1), Chunk("IDAT", {9}), kIend}));
    EXPECT_FALSE(plain.transform.HasFirst() || plain.transform.HasSecond());
    EXPECT_FALSE(plain.medResiduals);
}

TEST(ContainerReader, RefusesDamagedFraming) {
    const Bytes good = File({Header(2, 2), Chunk("IDAT", {1, 2, 3}), kIend});
    Bytes badSignature = good;
    badSignature[1] = 'Q';
    EXPECT_EQ(ErrorOf(badSignature), decode_messages::kNoSignature);

    // Offsets: signature 8, IHDR 25, then the IDAT chunk's data at 8 + 25 + 8.
    for (const auto& [offset, chunk] : {std::pair{20, "IHDR"}, {42, "IDAT"}, {57, "IEND"}}) {
        Bytes corrupt = good;
        corrupt[static_cast<size_t>(offset)] ^= 0x40;
        EXPECT_EQ(ErrorOf(corrupt), std::string(decode_messages::kCrcMismatch) + chunk)
            << "byte " << offset;
    }
    EXPECT_EQ(ErrorOf(Bytes(good.begin(), good.end() - 1)), decode_messages::kChunkTruncated);
    Bytes trailing = good;
    trailing.push_back(0);
    EXPECT_EQ(ErrorOf(trailing), decode_messages::kDataAfterIend);
    Bytes huge = good;
    huge[33] = 0x80;  // the IDAT length becomes 2^31 + 3
    EXPECT_EQ(ErrorOf(huge), decode_messages::kChunkTooLong);
}

TEST(ContainerReader, RefusesHeadersThisFormatDoesNotWrite) {
    const Bytes idat = Chunk("IDAT", {0});
    const auto error = [&](const Bytes& header) { return ErrorOf(File({header, idat, kIend})); };
    EXPECT_EQ(error(Header(3, 3, 16)), decode_messages::kBadBitDepth);
    EXPECT_EQ(error(Header(3, 3, 8, 6)), decode_messages::kBadColourType);
    EXPECT_EQ(error(Header(3, 3, 8, 2, 0)), decode_messages::kBadCompressionMethod);
    EXPECT_EQ(error(Header(3, 3, 8, 2, 1, 1)), decode_messages::kBadFilterMethod);
    EXPECT_EQ(error(Header(3, 3, 8, 2, 1, 0, 1)), decode_messages::kBadInterlaceMethod);
    EXPECT_EQ(error(Header(0, 3)), decode_messages::kEmptyImage);
    EXPECT_EQ(error(Header(3, 0)), decode_messages::kEmptyImage);
    EXPECT_EQ(error(Chunk("IHDR", {0, 0, 0, 1})),
              std::string(decode_messages::kBadChunkLength) + "IHDR");
}

TEST(ContainerReader, RefusesChunksOutOfPlace) {
    const Bytes header = Header(2, 1);
    const Bytes idat = Chunk("IDAT", {0});
    const Bytes ncpr = Chunk("ncPr", {});
    using decode_messages::kChunkOutOfOrder;
    using decode_messages::kDuplicateChunk;
    EXPECT_EQ(ErrorOf(File({idat, header, kIend})), decode_messages::kFirstChunkNotIhdr);
    EXPECT_EQ(ErrorOf(File({header, idat, ncpr, kIend})), std::string(kChunkOutOfOrder) + "ncPr");
    EXPECT_EQ(ErrorOf(File({header, ncpr, Chunk("cmOd", {0x10}), idat, kIend})),
              std::string(kChunkOutOfOrder) + "cmOd");
    EXPECT_EQ(ErrorOf(File({header, ncpr, ncpr, idat, kIend})),
              std::string(kDuplicateChunk) + "ncPr");
    EXPECT_EQ(ErrorOf(File({header, header, idat, kIend})), std::string(kDuplicateChunk) + "IHDR");
    EXPECT_EQ(ErrorOf(File({header, idat, Chunk("tEXt", {}), kIend})),
              std::string(decode_messages::kUnknownChunk) + "tEXt");
    EXPECT_EQ(ErrorOf(File({header, kIend})), decode_messages::kNoIdat);
    EXPECT_EQ(ErrorOf(File({header, idat})), decode_messages::kNoIend);
    EXPECT_EQ(ErrorOf(File({header, idat, Chunk("IEND", {0})})),
              std::string(decode_messages::kBadChunkLength) + "IEND");
    EXPECT_EQ(ErrorOf(File({header, Chunk("ncPr", {1}), idat, kIend})),
              std::string(decode_messages::kBadChunkLength) + "ncPr");
    // A channel number 3 exists in the 2-bit field but names no channel.
    EXPECT_EQ(ErrorOf(File({header, Chunk("cmOd", {0xC0 | 0x10}), idat, kIend})),
              decode_messages::kBadTransformChannel);
    EXPECT_EQ(ErrorOf(File({header, Chunk("\x01\x02zz", {}), idat, kIend})),
              std::string(decode_messages::kUnknownChunk) + "??zz");
}

}  // namespace
}  // namespace quenpix
