// The image stream end to end on tiny inputs, the short-match decision on a hand-made block,
// and the same stream whether blocks are planned ahead on other threads or not.
#include "stream/block_encoder.hpp"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "colourbox/side_file.hpp"
#include "encoder/chunk_writer.hpp"
#include "encoder/png_encoder.hpp"
#include "format/crc32.hpp"
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

// Six blocks of literals and matches of every length, many short enough to be replaced.
struct ManyBlocks {
    ManyBlocks() {
        table.boxCount = 4;
        for (uint32_t b = 0; b < 4; ++b) {
            for (uint32_t c = 0; c < 3; ++c)
                table.width[c][b] = static_cast<uint8_t>((b + c) % 3);
        }
        uint32_t seed = 17;
        uint32_t pixels = 0;
        while (tokens.size() < 400000) {
            seed = seed * 1664525 + 1013904223;
            // Mostly literals and short matches, now and then a long one.
            const uint32_t length =
                seed >> 29 != 0 ? 0 : 1 + (seed >> 8) % ((seed & 1) != 0 ? 86 : 3);
            if (length == 0 || pixels < 100) {
                tokens.push_back(0);
                ++pixels;
            } else {
                // 86 pixels only in the raw plane: byte length + plane stays within 258.
                const uint32_t plane = length == 86 ? 0 : (seed >> 4) % 3;
                tokens.push_back(static_cast<uint16_t>(3 * length + plane + 256));
                tokens.push_back(static_cast<uint16_t>(1 + (seed >> 12) % 100));
                pixels += length;
            }
        }
        for (uint32_t p = 0; p < pixels; ++p) {
            boxes.push_back(static_cast<uint8_t>(p * 7 / 5 % 4));
            table.offsetBitCount += table.PixelBits(boxes.back());
        }
        residual.assign(size_t{3} * pixels, 0);
        raw.assign(size_t{3} * pixels, 5);
    }

    struct Written {
        std::string stream;
        std::vector<uint8_t> side;
        MatchCounters counters;
        std::vector<uint32_t> progress;
    };

    Written Encode(uint32_t threads) const {
        Written written;
        SideFileBuffer sideFile;
        sideFile.BuildSideFile(table);
        std::ostringstream out;
        ChunkWriter chunks(out);
        const BlockEncoderInput input{tokens, boxes, &table, residual, raw, true, 2, threads};
        BlockEncoder encoder(input, chunks, sideFile, written.counters,
                             [&](uint32_t percent) { written.progress.push_back(percent); });
        encoder.WriteImageData();
        written.stream = out.str();
        const auto side = sideFile.Contents();
        written.side.assign(side.begin(), side.end());
        return written;
    }

    ColourBoxTable table;
    std::vector<uint16_t> tokens;
    std::vector<uint8_t> boxes;
    std::vector<uint8_t> residual;
    std::vector<uint8_t> raw;
};

TEST(ImageStream, BlocksPlannedAheadOnThreadsGiveTheSameStreamSideFileCountsAndProgress) {
    const ManyBlocks input;
    const ManyBlocks::Written one = input.Encode(1);
    ASSERT_GT(one.progress.size(), 5u) << "too few blocks to fill the ring of planned blocks";
    for (const uint32_t threads : {2u, 3u}) {
        const ManyBlocks::Written many = input.Encode(threads);
        EXPECT_TRUE(many.stream == one.stream) << threads << " threads";
        EXPECT_EQ(many.side, one.side) << threads << " threads";
        EXPECT_EQ(many.counters.byPlane, one.counters.byPlane) << threads << " threads";
        EXPECT_EQ(many.progress, one.progress) << threads << " threads";
    }
}

}  // namespace
}  // namespace quenpix
