// Tests of BmpDecoder: headers, formats, row order, run-length data, progress and failures.
#include "image/bmp_decoder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "image/bitmap_image.hpp"
#include "image/exceptions.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

using Bytes = std::vector<uint8_t>;

void PutLe(Bytes& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

[[nodiscard]] uint32_t GetLe(const Bytes& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[at + static_cast<size_t>(i)];
    return value;
}

struct BmpFields {
    BmpFields(uint32_t w, int32_t h, uint16_t bits = 24, uint32_t comp = 0, uint32_t size = 40)
        : headerSize(size), width(w), height(h), bitCount(bits), compression(comp) {}

    uint32_t headerSize;
    uint32_t width;
    int32_t height;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t colorsUsed = 0;
    uint32_t gap = 0;
    std::optional<uint32_t> pixelOffset;
    Bytes pixels;
};

// Table entry i is (blue i, green 255 - i, red i ^ 0x5A); a fourth byte of 0xEE must be dropped.
[[nodiscard]] ColorMapEntry TableEntry(uint32_t i) {
    return {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i ^ 0x5A)};
}

[[nodiscard]] Bytes BuildBmp(const BmpFields& f) {
    const uint32_t entries = f.bitCount <= 8 ? 1u << f.bitCount : 0;
    const uint32_t entryBytes = f.headerSize == 12 ? 3 : 4;
    const uint32_t offset =
        f.pixelOffset.value_or(14 + f.headerSize + entries * entryBytes + f.gap);
    Bytes out{'B', 'M'};
    PutLe(out, offset + static_cast<uint32_t>(f.pixels.size()), 4);
    PutLe(out, 0, 4);
    PutLe(out, offset, 4);
    PutLe(out, f.headerSize, 4);
    if (f.headerSize == 12) {
        PutLe(out, f.width, 2);
        PutLe(out, static_cast<uint32_t>(f.height), 2);
        PutLe(out, 1, 2);
        PutLe(out, f.bitCount, 2);
    } else {
        PutLe(out, f.width, 4);
        PutLe(out, static_cast<uint32_t>(f.height), 4);
        PutLe(out, 1, 2);
        PutLe(out, f.bitCount, 2);
        PutLe(out, f.compression, 4);
        PutLe(out, 0, 4);
        PutLe(out, 2835, 4);
        PutLe(out, 2835, 4);
        PutLe(out, f.colorsUsed, 4);
        PutLe(out, 0, 4);
        for (uint32_t i = 40; i < f.headerSize; ++i)
            out.push_back(0xCC);
    }
    for (uint32_t i = 0; i < entries; ++i) {
        const ColorMapEntry e = TableEntry(i);
        out.insert(out.end(), {e.blue, e.green, e.red});
        if (entryBytes == 4) out.push_back(0xEE);
    }
    for (uint32_t i = 0; i < f.gap; ++i)
        out.push_back(0x77);
    out.insert(out.end(), f.pixels.begin(), f.pixels.end());
    return out;
}

struct ProgressLog {
    std::vector<uint32_t> percents;
    size_t cancelAt = std::numeric_limits<size_t>::max();
};

void Record(BitmapImageCoder& /*coder*/, void* data, uint32_t pass, uint32_t passCount,
            uint32_t percent, bool& cancel) {
    auto& log = *static_cast<ProgressLog*>(data);
    EXPECT_EQ(pass, 1u);
    EXPECT_EQ(passCount, 1u);
    EXPECT_FALSE(cancel) << "the cancel flag must be false on entry";
    if (log.percents.size() == log.cancelAt) cancel = true;
    log.percents.push_back(percent);
}

[[nodiscard]] std::istringstream StreamOf(const Bytes& bytes) {
    return std::istringstream(std::string(bytes.begin(), bytes.end()), std::ios::binary);
}

void Decode(const Bytes& bytes, BitmapImage& image, ProgressLog* log = nullptr) {
    auto in = StreamOf(bytes);
    BmpDecoder decoder;
    if (log != nullptr) decoder.SetProgressFunction(&Record, log);
    decoder.ReadImage(in, image);
}

// Runs the decoder and checks the exception class and its exact text.
template <typename E>
void ExpectFailure(const Bytes& bytes, const char* message, const std::string& what,
                   BitmapImage* keep = nullptr) {
    BitmapImage local;
    BitmapImage& image = keep != nullptr ? *keep : local;
    try {
        Decode(bytes, image);
        ADD_FAILURE() << what << ": decoded without an exception";
    } catch (const E& e) {
        EXPECT_STREQ(e.what(), message) << what;
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": wrong exception with message \"" << e.what() << "\"";
    }
}

[[nodiscard]] Bytes Row(const BitmapImage& image, uint32_t topBasedRow) {
    const uint8_t* data = image.RowData(topBasedRow);
    return {data, data + image.BytesPerRow()};
}

[[nodiscard]] Bytes Stored(const BitmapImage& image) {
    return {image.ImageData(), image.ImageData() + size_t{image.BytesPerRow()} * image.Height()};
}

// A 2x2 24-bit picture; every file row ends in two junk padding bytes.
[[nodiscard]] BmpFields TwoByTwo(bool topDown) {
    const Bytes top{1, 2, 3, 4, 5, 6, 0xA5, 0xA5};
    const Bytes bottom{7, 8, 9, 10, 11, 12, 0xA5, 0xA5};
    BmpFields f(2, topDown ? -2 : 2);
    const Bytes& first = topDown ? top : bottom;
    const Bytes& second = topDown ? bottom : top;
    f.pixels.clear();
    for (const Bytes* row : {&first, &second}) {
        for (const uint8_t b : *row)
            f.pixels.push_back(b);
    }
    return f;
}

// An 8-bit picture 3 wide: row r (top-based) holds r*10 + x.
[[nodiscard]] BmpFields EightBit(uint32_t rows, bool topDown) {
    BmpFields f(3, topDown ? -static_cast<int32_t>(rows) : static_cast<int32_t>(rows), 8);
    for (uint32_t k = 0; k < rows; ++k) {
        const uint32_t r = topDown ? k : rows - 1 - k;
        f.pixels.insert(f.pixels.end(),
                        {static_cast<uint8_t>(r * 10), static_cast<uint8_t>(r * 10 + 1),
                         static_cast<uint8_t>(r * 10 + 2), 0xA5});
    }
    return f;
}

[[nodiscard]] BmpFields Rle(uint32_t width, int32_t height, bool rle4, Bytes codes) {
    BmpFields f(width, height, rle4 ? 4 : 8, rle4 ? 2 : 1);
    f.pixels = std::move(codes);
    return f;
}

struct PublicImage {
    const char* name;
    uint32_t bitCount;
    uint32_t width;
    uint32_t height;
    bool topDown;
};

constexpr PublicImage kPublicImages[] = {
    {"p01_1x1", 24, 1, 1, false},
    {"p02_2x1", 24, 2, 1, false},
    {"p03_1x2", 24, 1, 2, false},
    {"p04_3x3_junkpad", 24, 3, 3, false},
    {"p05_5x7", 24, 5, 7, false},
    {"p06_gradient_64x64", 24, 64, 64, false},
    {"p07_noise_64x64", 24, 64, 64, false},
    {"p08_flat_64x64", 24, 64, 64, false},
    {"p09_grey_64x64", 24, 64, 64, false},
    {"p10_runs_200x12", 24, 200, 12, false},
    {"p11_screen_160x120", 24, 160, 120, false},
    {"p12_photo_64x64", 24, 64, 64, false},
    {"p13_photo_128x96", 24, 128, 96, false},
    {"p14_photo_topdown_37x29", 24, 37, 29, true},
    {"p15_os2core_45x31", 24, 45, 31, false},
    {"p16_v5header_40x30", 24, 40, 30, false},
    {"p17_gap_33x17", 24, 33, 17, false},
    {"p18_photo_181x181", 24, 181, 181, false},
    {"p19_window_182x182", 24, 182, 182, false},
    {"p20_photo_300x240", 24, 300, 240, false},
    {"p21_1bit_33x9", 1, 33, 9, false},
    {"p22_4bit_os2_13x7", 4, 13, 7, false},
    {"p23_8bit_topdown_17x11", 8, 17, 11, true},
    {"p24_rle8_16x8", 8, 16, 8, false},
    {"p25_rle4_15x6", 4, 15, 6, false},
};

[[nodiscard]] Bytes PublicFile(const std::string& name) {
    return testing::ReadFileBytes(testing::DataPath("public/" + name + ".bmp"));
}

TEST(BmpDecoderTest, PublicImagesReadWithFileRowsAndColoursInPlace) {
    for (const PublicImage& p : kPublicImages) {
        SCOPED_TRACE(p.name);
        const Bytes file = PublicFile(p.name);
        BitmapImage image;
        ASSERT_NO_THROW(Decode(file, image));
        EXPECT_EQ(image.BitCount(), p.bitCount);
        EXPECT_EQ(image.Width(), p.width);
        EXPECT_EQ(image.Height(), p.height);
        const uint32_t headerSize = GetLe(file, 14, 4);
        const uint32_t compression = headerSize == 12 ? 0 : GetLe(file, 30, 4);
        if (compression != 0) continue;

        const uint32_t entryBytes = headerSize == 12 ? 3 : 4;
        ASSERT_EQ(image.ColorCount(), p.bitCount == 24 ? 0u : 1u << p.bitCount);
        for (uint32_t i = 0; i < image.ColorCount(); ++i) {
            const size_t at = 14 + headerSize + size_t{i} * entryBytes;
            EXPECT_EQ(image.ColorMap(i).blue, file[at]) << "entry " << i;
            EXPECT_EQ(image.ColorMap(i).green, file[at + 1]) << "entry " << i;
            EXPECT_EQ(image.ColorMap(i).red, file[at + 2]) << "entry " << i;
        }
        const size_t pixelOffset = GetLe(file, 10, 4);
        const size_t rowBytes = (size_t{p.bitCount} * p.width + 7) / 8;
        const size_t stride = (rowBytes + 3) & ~size_t{3};
        ASSERT_EQ(image.BytesPerRow(), stride);
        for (uint32_t k = 0; k < p.height; ++k) {
            const uint32_t r = p.topDown ? k : p.height - 1 - k;
            const auto fileRow =
                file.begin() + static_cast<std::ptrdiff_t>(pixelOffset + k * stride);
            Bytes expected(fileRow, fileRow + static_cast<std::ptrdiff_t>(rowBytes));
            expected.resize(stride, 0);
            ASSERT_EQ(Row(image, r), expected) << "top-based row " << r;
        }
    }
}

TEST(BmpDecoderTest, Rle8PublicImageDecodesEveryKindOfCode) {
    BitmapImage image;
    ASSERT_NO_THROW(Decode(PublicFile("p24_rle8_16x8"), image));
    ASSERT_EQ(image.BytesPerRow(), 16u);
    // Worked by hand from the codes at offset 0x436.
    EXPECT_EQ(Row(image, 7), Bytes({7, 7, 7, 7, 7, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}));
    EXPECT_EQ(Row(image, 6), Bytes({1, 2, 3, 0xC8, 0xC8, 0xC8, 0xC8, 10, 20, 30, 40, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF}))
        << "absolute run of 3 with its pad, then of 4";
    EXPECT_EQ(Row(image, 5), Bytes(16, 0)) << "a delta skips the row";
    EXPECT_EQ(Row(image, 4), Bytes({0, 0, 0, 0x42, 0x42, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Row(image, 3), Bytes({0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D,
                                    0x6E, 0x6F, 0x70, 0x71, 0x72, 0x73}));
    EXPECT_EQ(Row(image, 2), Bytes(16, 1));
    EXPECT_EQ(Row(image, 1), Bytes({9, 8, 7, 6, 5, 0, 0, 0, 0, 3, 3, 3, 3, 3, 3, 3}))
        << "odd absolute run, then a delta within the row";
    EXPECT_EQ(Row(image, 0), Bytes({0xFA, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB,
                                    0xFB, 0xFB, 0xFB, 0xFB, 0xFB, 0xFB}));
    EXPECT_EQ(image.ColorMap(1).blue, 0xFE);
    EXPECT_EQ(image.ColorMap(1).green, 0x62);
    EXPECT_EQ(image.ColorMap(1).red, 0x25);
}

TEST(BmpDecoderTest, Rle4PublicImageDecodesNibblesPadsAndOddColumns) {
    BitmapImage image;
    ASSERT_NO_THROW(Decode(PublicFile("p25_rle4_15x6"), image));
    ASSERT_EQ(image.BytesPerRow(), 8u);
    // Worked by hand from the codes at offset 0x76.
    EXPECT_EQ(Row(image, 5), Bytes({0x4C, 0x4C, 0x4C, 0x4C, 0x4C, 0x4C, 0x4C, 0x40}))
        << "a run of 15 alternating nibbles";
    EXPECT_EQ(Row(image, 4), Bytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xEE, 0xE0}))
        << "absolute runs of 3, 4 and 5 pixels, then a run starting at an even column";
    EXPECT_EQ(Row(image, 3), Bytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xD1, 0xF0}))
        << "absolute runs of 6 and 7, then a run starting at an odd column";
    EXPECT_EQ(Row(image, 2), Bytes({0xFE, 0xDC, 0xBA, 0x98, 0xA0, 0, 0, 0}));
    EXPECT_EQ(Row(image, 1), Bytes({0, 0, 0, 0, 0, 0x02, 0x72, 0x70})) << "after a delta to x=11";
    EXPECT_EQ(Row(image, 0), Bytes(8, 0)) << "the top row is never written";
}

TEST(BmpDecoderTest, BottomUpAndTopDown24BitGiveTheSameRowsWithZeroPadding) {
    BitmapImage image;
    ProgressLog bottomUp;
    Decode(BuildBmp(TwoByTwo(false)), image, &bottomUp);
    const Bytes expected{7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0};
    EXPECT_EQ(Stored(image), expected) << "stored rows are the file rows without the junk padding";
    EXPECT_EQ(bottomUp.percents, std::vector<uint32_t>({0, 100}));

    ProgressLog topDown;
    Decode(BuildBmp(TwoByTwo(true)), image, &topDown);
    EXPECT_EQ(Stored(image), expected) << "a second read replaces the first";
    EXPECT_EQ(topDown.percents, std::vector<uint32_t>({0, 0, 50, 100}));
}

TEST(BmpDecoderTest, IndexedRowsReportProgressBeforeEachRow) {
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        BitmapImage image;
        ProgressLog log;
        Decode(BuildBmp(EightBit(4, topDown)), image, &log);
        EXPECT_EQ(log.percents, std::vector<uint32_t>({0, 0, 25, 50, 75, 100}));
        for (uint32_t r = 0; r < 4; ++r) {
            EXPECT_EQ(Row(image, r),
                      Bytes({static_cast<uint8_t>(r * 10), static_cast<uint8_t>(r * 10 + 1),
                             static_cast<uint8_t>(r * 10 + 2), 0}))
                << "top-based row " << r;
        }
        ASSERT_EQ(image.ColorCount(), 256u);
        for (const uint32_t i : {0u, 1u, 128u, 255u}) {
            EXPECT_EQ(image.ColorMap(i).blue, TableEntry(i).blue) << "entry " << i;
            EXPECT_EQ(image.ColorMap(i).green, TableEntry(i).green) << "entry " << i;
            EXPECT_EQ(image.ColorMap(i).red, TableEntry(i).red) << "entry " << i;
        }
    }
}

TEST(BmpDecoderTest, HeightZeroDecodesToAnEmptyImage) {
    BitmapImage image;
    ProgressLog log;
    Decode(BuildBmp(BmpFields(3, 0)), image, &log);
    EXPECT_EQ(image.BitCount(), 24u);
    EXPECT_EQ(image.Width(), 3u);
    EXPECT_EQ(image.Height(), 0u);
    EXPECT_EQ(log.percents, std::vector<uint32_t>({0, 100}));
}

TEST(BmpDecoderTest, InfoHeaderSizesAtLeast40SkipTheirExtraBytes) {
    const BmpFields base = EightBit(2, false);
    for (const uint32_t size : {40u, 64u, 108u, 124u}) {
        BmpFields f = base;
        f.headerSize = size;
        BitmapImage image;
        ASSERT_NO_THROW(Decode(BuildBmp(f), image)) << "header size " << size;
        EXPECT_EQ(Row(image, 1), Bytes({10, 11, 12, 0})) << "header size " << size;
        EXPECT_EQ(image.ColorMap(3).red, TableEntry(3).red) << "header size " << size;
    }
    for (const uint32_t size : {0u, 11u, 13u, 16u, 39u}) {
        BmpFields f = base;
        f.headerSize = size;
        ExpectFailure<EBmpCorruptFile>(BuildBmp(f), messages::kCorruptBmp,
                                       "header size " + std::to_string(size));
    }
}

TEST(BmpDecoderTest, CoreHeaderUses16BitFieldsAndThreeByteColours) {
    BmpFields f(3, 2, 4, 0, 12);
    f.pixels = {0x12, 0x30, 0xAA, 0xAA, 0x45, 0x60, 0xAA, 0xAA};
    BitmapImage image;
    Decode(BuildBmp(f), image);
    EXPECT_EQ(image.Width(), 3u);
    EXPECT_EQ(image.Height(), 2u);
    EXPECT_EQ(Row(image, 1), Bytes({0x12, 0x30, 0, 0}));
    EXPECT_EQ(Row(image, 0), Bytes({0x45, 0x60, 0, 0}));
    ASSERT_EQ(image.ColorCount(), 16u);
    for (uint32_t i = 0; i < 16; ++i) {
        EXPECT_EQ(image.ColorMap(i).blue, TableEntry(i).blue) << "entry " << i;
        EXPECT_EQ(image.ColorMap(i).red, TableEntry(i).red) << "entry " << i;
    }
}

TEST(BmpDecoderTest, GapBeforeThePixelsIsSkippedAndLeavesTheStreamAfterThePixels) {
    BmpFields f = TwoByTwo(false);
    f.gap = 70;
    Bytes file = BuildBmp(f);
    file.insert(file.end(), {'t', 'a', 'i', 'l'});
    auto in = StreamOf(file);
    BitmapImage image;
    BmpDecoder decoder;
    decoder.ReadImage(in, image);
    EXPECT_EQ(Stored(image), Bytes({7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}));
    EXPECT_EQ(static_cast<size_t>(in.tellg()), file.size() - 4) << "trailing bytes are not read";
}

TEST(BmpDecoderTest, TableIsAlwaysTwoToTheBitCountEntries) {
    BmpFields f = EightBit(1, false);
    f.colorsUsed = 16;
    f.pixelOffset = 14 + 40 + 16 * 4;
    ExpectFailure<EBmpCorruptFile>(BuildBmp(f), messages::kCorruptBmp,
                                   "offset right after 16 of the 256 entries");
}

TEST(BmpDecoderTest, UnsupportedBitCountsAndCompressionsAreRefused) {
    struct Format {
        uint16_t bitCount;
        uint32_t compression;
    };
    for (const Format fmt : {Format{16, 0},
                             {32, 0},
                             {2, 0},
                             {0, 0},
                             {24, 3},
                             {24, 1},
                             {8, 2},
                             {4, 1},
                             {1, 1},
                             {8, 3}}) {
        BmpFields f(1, 1, fmt.bitCount, fmt.compression);
        f.pixels = Bytes(4, 0);
        BitmapImage image;
        ExpectFailure<EBmpNotSupported>(
            BuildBmp(f), messages::kUnsupportedBmp,
            std::to_string(fmt.bitCount) + " bits, compression " + std::to_string(fmt.compression),
            &image);
        EXPECT_EQ(image.BitCount(), 0u) << "the image is untouched";
    }
}

TEST(BmpDecoderTest, HeaderFailuresCarryTheirExactMessages) {
    ExpectFailure<EBmpFileReadError>({}, messages::kBmpReadError, "empty input");
    ExpectFailure<EBmpFileReadError>({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                                     messages::kBmpReadError, "13-byte file header");
    Bytes file = BuildBmp(TwoByTwo(false));
    file[1] = 'A';
    ExpectFailure<EBmpNotABmpFile>(file, messages::kNotABmp, "signature BA");
    file[0] = 'M';
    file[1] = 'B';
    ExpectFailure<EBmpNotABmpFile>(file, messages::kNotABmp, "signature MB");

    BmpFields overlapping = TwoByTwo(false);
    overlapping.pixelOffset = 53;
    ExpectFailure<EBmpCorruptFile>(BuildBmp(overlapping), messages::kCorruptBmp,
                                   "pixel offset inside the header");
}

// Every prefix of a file that ends before its pixel data is complete must fail to read, and
// never lend bytes that were not there.
TEST(BmpDecoderTest, TruncationAtEveryStageIsAReadError) {
    for (const char* name : {"p05_5x7", "p15_os2core_45x31", "p16_v5header_40x30", "p17_gap_33x17",
                             "p21_1bit_33x9", "p22_4bit_os2_13x7"}) {
        const Bytes file = PublicFile(name);
        for (size_t length = 0; length < file.size(); ++length) {
            ExpectFailure<EBmpFileReadError>(
                Bytes(file.begin(), file.begin() + length), messages::kBmpReadError,
                std::string(name) + " cut to " + std::to_string(length));
        }
    }
}

TEST(BmpDecoderTest, ShortPixelDataIsRefusedBeforeTheImageIsSized) {
    Bytes file = BuildBmp(TwoByTwo(false));
    file.pop_back();
    BitmapImage image;
    ExpectFailure<EBmpFileReadError>(file, messages::kBmpReadError, "one byte short", &image);
    EXPECT_EQ(image.Width(), 0u);
    EXPECT_EQ(image.BitCount(), 0u);
}

// A small file declaring a huge indexed image is walked code by code and nothing is stored; the
// failures are the ones a full read gives.
TEST(BmpDecoderTest, TrueColourOnlyChecksOtherBitmapsWithoutStoringTheirPixels) {
    const auto readTrueColourOnly = [](const Bytes& bytes, BitmapImage& image) {
        auto in = StreamOf(bytes);
        BmpDecoder decoder;
        decoder.SetTrueColourOnly(true);
        decoder.ReadImage(in, image);
    };
    Bytes codes;
    for (int i = 0; i < 100; ++i)
        codes.insert(codes.end(), {0, 2, 0, 255});  // deltas: down 25500 rows
    codes.insert(codes.end(), {4, 7, 0, 0, 0, 1});  // four pixels, end of line, end of bitmap
    BitmapImage image;
    readTrueColourOnly(BuildBmp(Rle(60000, 60000, false, codes)), image);
    EXPECT_EQ(image.BitCount(), 8u);
    EXPECT_EQ(image.Width(), 0u) << "no pixels are kept";
    EXPECT_EQ(image.ColorMap(255).red, TableEntry(255).red);

    BmpFields tall = EightBit(2, false);
    tall.height = 65535;  // rows of 3 pixels, with 2 rows' bytes given
    const std::vector<std::pair<Bytes, const char*>> failures = {
        {BuildBmp(Rle(60000, 60000, false, {0, 2, 0, 255, 255, 1})), messages::kCorruptBmp},
        {BuildBmp(Rle(60000, 60000, true, {0, 2, 10, 0})), messages::kCorruptBmp},
        {BuildBmp(tall), messages::kBmpReadError},
    };
    for (size_t i = 0; i < failures.size(); ++i) {
        try {
            readTrueColourOnly(failures[i].first, image);
            ADD_FAILURE() << "case " << i << " was accepted";
        } catch (const EGraphicsException& e) {
            EXPECT_STREQ(e.what(), failures[i].second) << "case " << i;
        }
    }
    // True-colour bitmaps are read as always.
    readTrueColourOnly(BuildBmp(TwoByTwo(false)), image);
    EXPECT_EQ(Stored(image), (Bytes{7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}));
}

TEST(BmpDecoderTest, TruncatedRunLengthDataIsCorruptAfterTheHeaders) {
    const Bytes file = PublicFile("p24_rle8_16x8");
    const size_t pixelOffset = GetLe(file, 10, 4);
    const size_t endOfBitmap = 0x488;  // just after the (0, 1) code
    for (size_t length = 0; length < endOfBitmap; ++length) {
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        const std::string what = "cut to " + std::to_string(length);
        if (length < pixelOffset) {
            ExpectFailure<EBmpFileReadError>(cut, messages::kBmpReadError, what);
        } else {
            ExpectFailure<EBmpCorruptFile>(cut, messages::kCorruptBmp, what);
        }
    }
    BitmapImage image;
    EXPECT_NO_THROW(Decode(Bytes(file.begin(), file.begin() + endOfBitmap), image));
}

TEST(BmpDecoderTest, OversizedDimensionsAreRefusedBeforeTheImageIsTouched) {
    struct Case {
        const char* what;
        BmpFields fields;
    };
    const Case cases[] = {
        {"width with its top bit set", BmpFields(0x80000000u, 1, 1)},
        {"height -2147483648", BmpFields(0, std::numeric_limits<int32_t>::min())},
        {"100000 x 100000 at 24 bits", BmpFields(100000, 100000)},
        {"row of 3 x 0x55555556 bytes", BmpFields(0x55555556u, 1)},
        {"65536 x 65536 at 8 bits is 2^32 bytes", BmpFields(65536, 65536, 8)},
        {"65536 x -65536 at 8 bits", BmpFields(65536, -65536, 8)},
        {"65536 x 65536 RLE8", BmpFields(65536, 65536, 8, 1)},
        {"core header 65535 x 65535", BmpFields(65535, 65535, 24, 0, 12)},
    };
    for (const Case& c : cases) {
        BitmapImage image;
        image.SetSize(0, 24, 2, 1);
        ExpectFailure<EBmpCorruptFile>(BuildBmp(c.fields), messages::kCorruptBmp, c.what, &image);
        EXPECT_EQ(image.Width(), 2u) << c.what << ": the image was resized";
    }
    ExpectFailure<EBmpNotSupported>(BuildBmp(BmpFields(100000, 100000, 16)),
                                    messages::kUnsupportedBmp,
                                    "the format is checked before the dimensions");
}

TEST(BmpDecoderTest, Rle8RunFillsTheBottomRow) {
    BitmapImage image;
    ProgressLog log;
    Decode(BuildBmp(Rle(4, 2, false, {3, 5, 0, 0, 0, 1})), image, &log);
    EXPECT_EQ(Row(image, 1), Bytes({5, 5, 5, 0}));
    EXPECT_EQ(Row(image, 0), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(log.percents, std::vector<uint32_t>({0, 0, 0, 50, 100})) << "one report per code";
}

TEST(BmpDecoderTest, RleProgressIsReportedBeforeEveryCode) {
    ProgressLog log;
    BitmapImage image;
    Decode(BuildBmp(Rle(4, 4, true, {1, 0x10, 0, 0, 0, 0, 0, 2, 0, 1, 2, 0x22, 0, 1})), image,
           &log);
    EXPECT_EQ(log.percents, std::vector<uint32_t>({0, 0, 0, 25, 50, 75, 75, 100}));
    EXPECT_EQ(Row(image, 3), Bytes({0x10, 0, 0, 0}));
    EXPECT_EQ(Row(image, 0), Bytes({0x22, 0, 0, 0}));
}

TEST(BmpDecoderTest, RleCodesOutsideTheImageAreCorrupt) {
    struct Case {
        const char* what;
        Bytes codes;
    };
    const Case cases[] = {
        {"run past the right edge", {5, 7, 0, 1}},
        {"run past the right edge after a run", {2, 7, 3, 7, 0, 1}},
        {"absolute run past the right edge", {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}},
        {"delta past the right edge, then a pixel", {0, 2, 4, 0, 1, 1, 0, 1}},
        {"delta above the top row, then a pixel", {0, 2, 0, 2, 1, 1, 0, 1}},
        {"end of line past the top row, then a pixel", {0, 0, 0, 0, 1, 1, 0, 1}},
        {"no end-of-bitmap code", {3, 5, 0, 0}},
        {"input ends inside a delta", {0, 2, 1}},
        {"input ends inside an absolute run", {0, 3, 1, 2}},
        {"input ends before the pad of an absolute run", {0, 3, 1, 2, 3}},
        {"input ends inside a code", {3}},
    };
    for (const Case& c : cases) {
        ExpectFailure<EBmpCorruptFile>(BuildBmp(Rle(4, 2, false, c.codes)), messages::kCorruptBmp,
                                       c.what);
    }
    BitmapImage image;
    EXPECT_NO_THROW(Decode(BuildBmp(Rle(4, 2, false, {4, 7, 0, 2, 9, 0, 0, 0, 4, 8, 0, 1})), image))
        << "runs up to the edge, and a delta outside followed by an end of line, are fine";
    EXPECT_EQ(Row(image, 0), Bytes({8, 8, 8, 8}));
}

TEST(BmpDecoderTest, AbsoluteRunsReadTheirDataAndPadBytes) {
    // Expected bytes consumed after the (0, n) escape, data plus pad.
    const uint32_t rle4Bytes[] = {2, 2, 4, 4, 4, 4};
    for (uint32_t n = 3; n <= 8; ++n) {
        Bytes codes{0, static_cast<uint8_t>(n)};
        for (uint32_t i = 0; i < rle4Bytes[n - 3]; ++i) {
            codes.push_back(static_cast<uint8_t>((2 * i + 1) << 4 | (2 * i + 2)));
        }
        codes.insert(codes.end(), {0, 1, 0xAB});
        const Bytes file = BuildBmp(Rle(8, 1, true, codes));
        auto in = StreamOf(file);
        BitmapImage image;
        BmpDecoder decoder;
        ASSERT_NO_THROW(decoder.ReadImage(in, image)) << "RLE4 absolute run of " << n;
        EXPECT_EQ(static_cast<size_t>(in.tellg()), file.size() - 1) << "RLE4 absolute run of " << n;
        Bytes expected(4, 0);
        for (uint32_t x = 0; x < n; ++x) {
            expected.at(x / 2) =
                static_cast<uint8_t>(expected.at(x / 2) | (x + 1) << (x % 2 == 0 ? 4 : 0));
        }
        EXPECT_EQ(Row(image, 0), expected) << "RLE4 absolute run of " << n;
    }
    for (const uint8_t n : {3, 4}) {
        const Bytes file = BuildBmp(Rle(4, 1, false, {0, n, 1, 2, 3, 4, 0, 1, 0xAB}));
        auto in = StreamOf(file);
        BitmapImage image;
        BmpDecoder decoder;
        ASSERT_NO_THROW(decoder.ReadImage(in, image)) << "RLE8 absolute run of " << int{n};
        EXPECT_EQ(static_cast<size_t>(in.tellg()), file.size() - 1)
            << "RLE8 absolute run of " << int{n};
        EXPECT_EQ(Row(image, 0), Bytes({1, 2, 3, static_cast<uint8_t>(n == 4 ? 4 : 0)}));
    }
}

TEST(BmpDecoderTest, Rle4RunsStartingAtOddColumnsMergeNibbles) {
    BitmapImage image;
    Decode(BuildBmp(Rle(6, 1, true, {1, 0xA0, 3, 0xBC, 0, 2, 1, 0, 1, 0xD0, 0, 1})), image);
    EXPECT_EQ(Row(image, 0), Bytes({0xAB, 0xCB, 0x0D, 0}));
}

TEST(BmpDecoderTest, RleWithHeightZeroOrNegativeHasNoRowToWrite) {
    BitmapImage image;
    ProgressLog log;
    Decode(BuildBmp(Rle(4, 0, false, {0, 0, 0, 2, 1, 1, 0, 1})), image, &log);
    EXPECT_EQ(image.Height(), 0u);
    EXPECT_EQ(log.percents, std::vector<uint32_t>({0, 0, 0, 0, 100})) << "height 0 reports 0";
    ExpectFailure<EBmpCorruptFile>(BuildBmp(Rle(4, 0, false, {1, 1, 0, 1})), messages::kCorruptBmp,
                                   "pixel code with height 0");
    ExpectFailure<EBmpCorruptFile>(BuildBmp(Rle(4, -2, true, {1, 0x11, 0, 1})),
                                   messages::kCorruptBmp, "pixel code with a negative height");
}

TEST(BmpDecoderTest, CancelAtTheFirstReportAbortsBeforeAnyPixelIsRead) {
    BitmapImage image;
    ProgressLog log;
    log.cancelAt = 0;
    try {
        Decode(BuildBmp(EightBit(2, false)), image, &log);
        ADD_FAILURE() << "no exception after cancelling";
    } catch (const EGraphicsAbort& e) {
        EXPECT_STREQ(e.what(), messages::kAbort);
    }
    EXPECT_EQ(log.percents, std::vector<uint32_t>({0}));
    EXPECT_EQ(image.Width(), 3u);
    EXPECT_EQ(image.Height(), 2u);
    EXPECT_EQ(image.ColorMap(200).green, TableEntry(200).green) << "the table was read";
    EXPECT_EQ(Stored(image), Bytes(8, 0)) << "no pixel was read";

    ProgressLog late;
    late.cancelAt = 3;
    EXPECT_THROW(Decode(BuildBmp(Rle(4, 2, false, {1, 1, 0, 0, 1, 2, 0, 1})), image, &late),
                 EGraphicsAbort);
    EXPECT_EQ(Row(image, 1), Bytes({1, 0, 0, 0})) << "codes before the cancel were decoded";
    EXPECT_EQ(Row(image, 0), Bytes({0, 0, 0, 0}));
}

}  // namespace
}  // namespace quenpix
