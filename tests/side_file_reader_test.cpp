// Tests of the side-file reader: header checks, offsets as the writer packs them, and the length.
#include "decoder/side_file_reader.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "colourbox/side_file.hpp"

namespace quenpix {
namespace {

using Bytes = std::vector<uint8_t>;
using Triple = std::array<uint8_t, 3>;

std::string ErrorOf(const Bytes& bytes) {
    try {
        SideFileReader reader(bytes);
    } catch (const EDecodeError& e) {
        return e.what();
    }
    return "";
}

// Three boxes: one with widths 0, 0, 0; one with 7, 1, 3 bits; one with 2, 0, 5.
ColourBoxTable ThreeBoxes() {
    ColourBoxTable table;
    table.boxCount = 3;
    const std::array<Triple, 3> minima = {Triple{5, 6, 7}, Triple{250, 0, 128}, Triple{1, 2, 3}};
    const std::array<Triple, 3> widths = {Triple{0, 0, 0}, Triple{7, 1, 3}, Triple{2, 0, 5}};
    for (uint32_t k = 0; k < 3; ++k) {
        for (size_t c = 0; c < 3; ++c) {
            table.minimum[c][k] = minima[k][c];
            table.width[c][k] = widths[k][c];
        }
    }
    table.offsetBitCount = 64;
    return table;
}

struct CodedPixel {
    uint32_t box;
    Triple offsets;
};

TEST(SideFileReader, ReadsTheWritersTableAndOffsets) {
    const ColourBoxTable table = ThreeBoxes();
    const std::vector<CodedPixel> pixels = {
        {1, {127, 1, 7}}, {0, {0, 0, 0}}, {2, {3, 0, 31}}, {1, {10, 0, 0}}, {2, {0, 0, 1}}};
    SideFileBuffer writer;
    writer.BuildSideFile(table);
    for (const CodedPixel& p : pixels) {
        for (size_t c = 0; c < 3; ++c)
            writer.PutBits(p.offsets[c], table.width[c][p.box]);
    }
    const Bytes bytes(writer.Contents().begin(), writer.Contents().end());

    SideFileReader reader(bytes);
    ASSERT_EQ(reader.BoxCount(), 3u);
    for (uint32_t k = 0; k < 3; ++k) {
        for (uint32_t c = 0; c < 3; ++c) {
            EXPECT_EQ(reader.Minimum(c, k), table.minimum[c][k]) << "box " << k << " channel " << c;
            EXPECT_EQ(reader.Width(c, k), table.width[c][k]) << "box " << k << " channel " << c;
        }
    }
    for (size_t i = 0; i < pixels.size(); ++i) {
        Triple residual{};
        reader.ReadResiduals(pixels[i].box, residual.data());
        for (size_t c = 0; c < 3; ++c) {
            // Minimum plus offset wraps modulo 256 (box 1 channel 0: 250 + 10 = 4).
            const auto expected =
                static_cast<uint8_t>(table.minimum[c][pixels[i].box] + pixels[i].offsets[c]);
            EXPECT_EQ(residual[c], expected) << "pixel " << i << " channel " << c;
        }
    }
    EXPECT_NO_THROW(reader.CheckFullyRead());

    Triple residual{};
    EXPECT_THROW(reader.ReadResiduals(3, residual.data()), EDecodeError) << "box 3 of 3";
    try {
        reader.ReadResiduals(1, residual.data());
        FAIL() << "no offsets left for another pixel of box 1";
    } catch (const EDecodeError& e) {
        EXPECT_STREQ(e.what(), decode_messages::kSideFileTooShort);
    }
}

TEST(SideFileReader, UncheckedReadsStayInsideTheFileAndReadTheSameBits) {
    // As the bit reader's test: every size around the bound, 21-bit reads.
    for (size_t size = 0; size <= 48; ++size) {
        auto data = std::make_unique<uint8_t[]>(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<uint8_t>(i * 53 + 7);
        SideFileReader::Cursor checked(std::span<const uint8_t>(data.get(), size));
        SideFileReader::Cursor cursor(std::span<const uint8_t>(data.get(), size));
        const size_t reads = cursor.UncheckedReads(21);
        SideFileReader::Cursor::Unchecked fast = cursor.Fast();
        for (size_t k = 0; k < reads; ++k)
            ASSERT_EQ(fast.ReadBits(21), checked.ReadBits(21)) << size << " bytes, read " << k;
        cursor.Resume(fast);
        EXPECT_EQ(cursor.BitsLeft(), checked.BitsLeft()) << size << " bytes";
    }
}

TEST(SideFileReader, ChecksHeaderAndLength) {
    // One box, widths 0: 9 width bits, so 2 bytes of bit stream.
    const Bytes minimal = {0, 1, 0, 7, 8, 9, 0, 0};
    EXPECT_EQ(ErrorOf(minimal), "");
    EXPECT_EQ(ErrorOf({0, 1}), decode_messages::kSideFileNoHeader);
    EXPECT_EQ(ErrorOf({1, 1, 0, 7, 8, 9, 0, 0}), decode_messages::kSideFileBadFirstByte);
    EXPECT_EQ(ErrorOf({0, 0, 0, 0, 0}), decode_messages::kSideFileBadBoxCount);
    EXPECT_EQ(ErrorOf({0, 1, 1, 0, 0, 0}), decode_messages::kSideFileBadBoxCount) << "257 boxes";
    EXPECT_EQ(ErrorOf({0, 2, 0, 7, 8, 9, 0, 0}), decode_messages::kSideFileNoHeader);
    EXPECT_EQ(ErrorOf({0, 1, 0, 7, 8, 9, 0}), decode_messages::kSideFileTooShort);

    Bytes tooLong = minimal;
    tooLong.push_back(0);
    SideFileReader reader(tooLong);
    try {
        reader.CheckFullyRead();
        FAIL() << "a whole unread byte after the last field";
    } catch (const EDecodeError& e) {
        EXPECT_STREQ(e.what(), decode_messages::kSideFileTooLong);
    }
}

}  // namespace
}  // namespace quenpix
