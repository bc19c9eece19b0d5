// The image stream end to end on tiny inputs, and the short-match decision on a hand-made block.
#include "stream/block_encoder.hpp"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "colourbox/side_file.hpp"
#include "encoder/chunk_writer.hpp"
#include "encoder/crc32.hpp"
#include "encoder/png_encoder.hpp"
#include "image/bitmap_image.hpp"

namespace quenpix {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(ImageStream, OnePixelImageGivesTheKnownFileAndSideFile) {
    BitmapImage image;
    image.SetSize(0, 24, 1, 1);
    image.RowData(0)[0] = 3;  // blue
    image.RowData(0)[1] = 2;  // green
    image.RowData(0)[2] = 1;  // red
    PngEncoder encoder;
    std::ostringstream out;
    encoder.WriteImage(out, image);

    const std::vector<uint8_t> idat = {0x98, 0x94, 0x05, 0xC0, 0x01, 0x09, 0x00, 0x00, 0x00,
                                       0x00, 0x10, 0xFF, 0x57, 0x4B, 0x00, 0x0D, 0x00, 0x07};
    std::vector<uint8_t> expected = {
        0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0,
        0, 0, 1, 8, 2, 1, 0, 0, 0x91, 0xB5, 0x39, 0xE9,
        // one pixel wide: always the median predictor
        0, 0, 0, 0, 'n', 'c', 'P', 'r', 0xB4, 0x9C, 0x67, 0x11, 0, 0, 0, 18, 'I', 'D', 'A', 'T'};
    expected.insert(expected.end(), idat.begin(), idat.end());
    std::vector<uint8_t> typed = {'I', 'D', 'A', 'T'};
    typed.insert(typed.end(), idat.begin(), idat.end());
    const uint32_t crc = Crc32(0xFFFFFFFFu, typed) ^ 0xFFFFFFFFu;
    for (int shift = 24; shift >= 0; shift -= 8)
        expected.push_back(static_cast<uint8_t>(crc >> shift));
    const std::vector<uint8_t> end = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    expected.insert(expected.end(), end.begin(), end.end());
    EXPECT_EQ(Bytes(out.str()), expected);

    const auto side = encoder.SideFile().Contents();
    EXPECT_EQ(std::vector<uint8_t>(side.begin(), side.end()),
              (std::vector<uint8_t>{0, 1, 0, 1, 2, 3, 0, 0}));
    EXPECT_EQ(encoder.Counters().Total(), 0u);
}

// Five literal pixels of box 0 and then either a literal or a one-pixel raw match of a pixel of
// box 1. With box 0 the most frequent symbol, the estimated codes give the match 2 + 1 bits and
// the box symbol 2 bits, so box 1's offset bits decide: 1 bit ties (the match stays), 0 bits make
// the pixel cheaper (the match is written as a pixel).
struct TinyBlock {
    explicit TinyBlock(uint8_t box1Width, bool asMatch) {
        table.boxCount = 2;
        table.width[0][0] = 2;
        table.width[1][0] = 1;
        table.width[0][1] = box1Width;
        tokens = {0, 0, 0, 0, 0};
        if (asMatch) {
            tokens.insert(tokens.end(), {3 + 256, 1});
        } else {
            tokens.push_back(0);
        }
        boxes = {0, 0, 0, 0, 0, 1};
        residual = {3, 1, 0, 2, 0, 0, 1, 1, 0, 0, 0, 0, 3, 1, 0, 0, 0, 0};
        raw.assign(18, 7);
    }

    void Encode() {
        sideFile.BuildSideFile(table);
        std::ostringstream out;
        ChunkWriter chunks(out);
        const BlockEncoderInput input{tokens, boxes, &table, residual, raw, true, 2};
        BlockEncoder encoder(input, chunks, sideFile, counters, [](uint32_t) {});
        encoder.WriteImageData();
        stream = out.str();
    }

    ColourBoxTable table;
    std::vector<uint16_t> tokens;
    std::vector<uint8_t> boxes;
    std::vector<uint8_t> residual;
    std::vector<uint8_t> raw;
    SideFileBuffer sideFile;
    MatchCounters counters;
    std::string stream;
};

TEST(ShortMatchReplacement, TieBetweenPixelAndMatchCostKeepsTheMatch) {
    TinyBlock tie(1, true);
    tie.Encode();
    EXPECT_EQ(tie.counters.Raw(), 1u);

    TinyBlock cheaper(0, true);
    cheaper.Encode();
    EXPECT_EQ(cheaper.counters.Raw(), 0u);
}

TEST(ShortMatchReplacement, ReplacedMatchAdvancesTheSideFileAsALiteralWould) {
    TinyBlock replaced(0, true);
    replaced.Encode();
    ASSERT_EQ(replaced.counters.Raw(), 0u);
    TinyBlock literal(0, false);
    literal.Encode();
    const auto a = replaced.sideFile.Contents();
    const auto b = literal.sideFile.Contents();
    EXPECT_EQ(std::vector<uint8_t>(a.begin(), a.end()), std::vector<uint8_t>(b.begin(), b.end()));
    // Written as a pixel, the match leaves the same stream as the literal.
    EXPECT_EQ(replaced.stream, literal.stream);
}

}  // namespace
}  // namespace quenpix
