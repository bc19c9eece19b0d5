// Tests of the side-file buffer: header, width table, bit packing, and the expected side files.
#include "colourbox/side_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "test_support.hpp"

namespace quenpix {
namespace {

using Bytes = std::vector<uint8_t>;

[[nodiscard]] Bytes Copy(std::span<const uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

[[nodiscard]] ColourBoxTable Table(uint16_t boxCount, uint64_t offsetBitCount = 0) {
    ColourBoxTable table;
    table.boxCount = boxCount;
    table.offsetBitCount = offsetBitCount;
    return table;
}

// Reads fields most significant bit first, as the side file stores them.
class BitReader {
  public:
    BitReader(std::span<const uint8_t> bytes, size_t start) : bytes_(bytes), bit_(8 * start) {}
    [[nodiscard]] uint32_t Read(uint32_t n) {
        uint32_t value = 0;
        for (uint32_t i = 0; i < n; ++i, ++bit_) {
            value = value << 1 | (bytes_[bit_ / 8] >> (7 - bit_ % 8) & 1u);
        }
        return value;
    }

  private:
    std::span<const uint8_t> bytes_;
    size_t bit_;
};

TEST(SideFile, HeaderMinimaAndWidthTableWithoutOffsets) {
    SideFileBuffer side;
    EXPECT_TRUE(side.Contents().empty()) << "nothing built yet";

    ColourBoxTable one = Table(1);
    one.minimum[0][0] = 7, one.minimum[1][0] = 8, one.minimum[2][0] = 9;
    side.BuildSideFile(one);
    EXPECT_EQ(Copy(side.Contents()), (Bytes{0, 1, 0, 7, 8, 9, 0, 0}));

    // 72 width bits end on a byte boundary: no empty byte follows.
    side.BuildSideFile(Table(8));
    Bytes eightBoxes(36, 0);
    eightBoxes[1] = 8;
    EXPECT_EQ(Copy(side.Contents()), eightBoxes);

    ColourBoxTable full = Table(256);
    for (uint32_t k = 0; k < 256; ++k) {
        for (size_t c = 0; c < 3; ++c) {
            full.minimum[c][k] = static_cast<uint8_t>(k + 100 * c);
            full.width[c][k] = static_cast<uint8_t>((k + c) % 8);
        }
    }
    side.BuildSideFile(full);
    const std::span<const uint8_t> bytes = side.Contents();
    ASSERT_EQ(bytes.size(), 3u + 768u + 288u);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[2], 0x01);
    BitReader widths(bytes, 3 + 768);
    for (uint32_t k = 0; k < 256; ++k) {
        for (size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(bytes[3 + 3 * k + c], full.minimum[c][k]) << "minimum " << k << "/" << c;
            EXPECT_EQ(widths.Read(3), full.width[c][k]) << "width " << k << "/" << c;
        }
    }

    side.FreeSideFile();
    EXPECT_TRUE(side.Contents().empty()) << "freed";
}

TEST(SideFile, PutBitsPacksFieldsMostSignificantBitFirst) {
    ColourBoxTable table = Table(1, 40);
    table.width[0][0] = 5, table.width[1][0] = 3, table.width[2][0] = 7;
    SideFileBuffer side;
    side.BuildSideFile(table);
    // 101 011 111, then 7 bits fill byte 7 exactly; the next field starts in a fresh byte.
    EXPECT_EQ(Copy(side.Contents()), (Bytes{0, 1, 0, 0, 0, 0, 0xAF, 0x80}));
    side.PutBits(0x0A, 7);
    EXPECT_EQ(side.Contents().size(), 8u) << "the byte after a boundary is not yet in the file";
    side.PutBits(0x1, 1);
    side.PutBits(0x5, 256 + 3);  // only the low 8 bits of n count
    side.PutBits(0x7F, 0);       // n = 0 writes nothing
    side.PutBits(0x3F, 6);       // crosses into byte 9
    EXPECT_EQ(Copy(side.Contents()), (Bytes{0, 1, 0, 0, 0, 0, 0xAF, 0x8A, 0xDF, 0xC0}));
}

TEST(SideFile, EnteringAByteAssignsItSoStaleBytesNeverShow) {
    ColourBoxTable table = Table(3, 7 * 21);
    for (size_t c = 0; c < 3; ++c)
        table.width[c] = {7, 7, 7};
    SideFileBuffer fresh;
    fresh.BuildSideFile(table);
    const Bytes expected = Copy(fresh.Contents());

    // Fill the whole buffer with ones, then build again over the stale bytes.
    SideFileBuffer reused;
    reused.BuildSideFile(table);
    for (uint32_t i = 0; i < 21; ++i) {
        reused.PutBits(0x7F, 7);
    }
    EXPECT_EQ(reused.Contents().size(), 3u + 9u + (27u + 147u + 7u) / 8u) << "offset bound";
    reused.BuildSideFile(table);
    EXPECT_EQ(Copy(reused.Contents()), expected);
    // 23 zero bits after the 27 width bits: every byte entered must read as zero.
    for (const uint32_t width : {7u, 1u, 4u, 3u, 8u}) {
        reused.PutBits(0, width);
    }
    Bytes extended = expected;
    extended.resize(12 + 7, 0);
    EXPECT_EQ(Copy(reused.Contents()), extended);
}

// The box tables at the start of the expected side files: 0, N, 3N minima, 9N bits of widths.
TEST(SideFile, ExpectedSideFilesHoldConsistentBoxTables) {
    size_t checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testing::DataPath("expected"))) {
        if (entry.path().extension() != ".pls") continue;
        const std::string name = entry.path().filename().string();
        const Bytes file = testing::ReadFileBytes(entry.path().string());
        ASSERT_GE(file.size(), 5u) << name;
        const uint32_t boxCount = file[1] | uint32_t{file[2]} << 8;
        EXPECT_EQ(file[0], 0u) << name;
        ASSERT_GE(boxCount, 1u) << name;
        ASSERT_LE(boxCount, 256u) << name;
        const size_t tableBytes = 3 + 3 * boxCount + (9 * boxCount + 7) / 8;
        ASSERT_GE(file.size(), tableBytes) << name;

        BitReader widths(file, 3 + 3 * boxCount);
        uint32_t widestPixel = 0;
        for (uint32_t k = 0; k < boxCount; ++k) {
            uint32_t pixelBits = 0;
            for (size_t c = 0; c < 3; ++c) {
                const uint32_t width = widths.Read(3);
                pixelBits += width;
                // A box of width w reaches at least 2^(w-1) above its minimum, and no value exceeds
                // 255.
                if (width > 0) {
                    EXPECT_LE(file[3 + 3 * k + c] + (1u << (width - 1)), 255u)
                        << name << " box " << k << " channel " << c;
                }
            }
            widestPixel = std::max(widestPixel, pixelBits);
        }
        if (widestPixel == 0) {
            EXPECT_EQ(file.size(), tableBytes) << name << ": no offset bits";
        }
        if (name.starts_with("p01_1x1.")) {
            EXPECT_EQ(file.size(), 8u) << name;
        }
        ++checked;
    }
    EXPECT_GT(checked, 100u) << "expected side files not found";
}

}  // namespace
}  // namespace quenpix
