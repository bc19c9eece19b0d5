// Tests of BitmapImage geometry and colour map, and of the library's exception classes.
#include "image/bitmap_image.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "image/exceptions.hpp"

namespace quenpix {
namespace {

[[nodiscard]] bool AllZero(const BitmapImage& image) {
    const size_t bytes = size_t{image.BytesPerRow()} * image.Height();
    return std::all_of(image.ImageData(), image.ImageData() + bytes,
                       [](uint8_t b) { return b == 0; });
}

void ExpectEmpty(const BitmapImage& image, const std::string& what) {
    EXPECT_EQ(image.BitCount(), 0u) << what;
    EXPECT_EQ(image.Width(), 0u) << what;
    EXPECT_EQ(image.Height(), 0u) << what;
    EXPECT_EQ(image.ColorCount(), 0u) << what;
    EXPECT_EQ(image.ImageData(), nullptr) << what;
    EXPECT_THROW((void)image.ColorMap(0), ESubscriptOutOfRange) << what;
}

TEST(BitmapImageTest, NewImageIsEmptyAndHasNoColours) {
    const BitmapImage image;
    ExpectEmpty(image, "new image");
    try {
        (void)image.ColorMap(0);
    } catch (const ESubscriptOutOfRange& e) {
        EXPECT_STREQ(e.what(), messages::kSubscriptOutOfRange);
    }
}

TEST(BitmapImageTest, IndexedImageHasZeroedPixelsAndColourMap) {
    BitmapImage image;
    image.SetSize(16, 4, 3, 2);
    EXPECT_EQ(image.BitCount(), 4u);
    EXPECT_EQ(image.Width(), 3u);
    EXPECT_EQ(image.Height(), 2u);
    EXPECT_EQ(image.BytesPerRow(), 4u);
    EXPECT_TRUE(AllZero(image));
    ASSERT_EQ(image.ColorCount(), 16u);
    for (uint32_t i = 0; i < 16; ++i) {
        const ColorMapEntry& e = image.ColorMap(i);
        EXPECT_EQ(e.blue | e.green | e.red, 0) << "entry " << i;
    }
    EXPECT_THROW((void)image.ColorMap(16), ESubscriptOutOfRange);
    // Entries are three contiguous bytes, as the encoder reads them.
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&image.ColorMap(1)) -
                  reinterpret_cast<const uint8_t*>(&image.ColorMap(0)),
              3);
}

TEST(BitmapImageTest, TrueColourImageHasPaddedRowsAndNoColourMap) {
    BitmapImage image;
    image.SetSize(0, 24, 5, 3);
    EXPECT_EQ(image.BytesPerRow(), 16u);
    EXPECT_TRUE(AllZero(image));
    EXPECT_THROW((void)image.ColorMap(0), ESubscriptOutOfRange);

    image.SetSize(7, 24, 1, 1);
    EXPECT_EQ(image.ColorCount(), 0u) << "a 24-bit image has no map to index";
    EXPECT_THROW((void)image.ColorMap(0), ESubscriptOutOfRange);
}

TEST(BitmapImageTest, RowWidthIsPixelBytesRoundedUpToFour) {
    struct Case {
        uint32_t bitCount;
        uint32_t width;
        uint32_t rowWidth;
    };
    for (const Case c : {Case{24, 1, 4},
                         {24, 4, 12},
                         {24, 5, 16},
                         {4, 3, 4},
                         {1, 33, 8},
                         {1, 32, 4},
                         {2, 17, 8},
                         {8, 5, 8},
                         {8, 8, 8},
                         {4, 0, 0}}) {
        BitmapImage image;
        image.SetSize(c.bitCount <= 8 ? 1u << c.bitCount : 0, c.bitCount, c.width, 2);
        EXPECT_EQ(image.BytesPerRow(), c.rowWidth)
            << c.bitCount << " bits, " << c.width << " pixels wide";
    }
}

TEST(BitmapImageTest, RowDataCountsRowsFromTheTopOverBottomUpStorage) {
    BitmapImage image;
    image.SetSize(0, 24, 2, 3);
    EXPECT_EQ(image.RowData(0), image.ImageData() + 2 * image.BytesPerRow());
    EXPECT_EQ(image.RowData(1), image.ImageData() + image.BytesPerRow());
    EXPECT_EQ(image.RowData(2), image.ImageData());
}

TEST(BitmapImageTest, EmptyDimensionsAreNotAnError) {
    BitmapImage image;
    EXPECT_NO_THROW(image.SetSize(0, 24, 0, 5));
    EXPECT_EQ(image.Height(), 5u);
    EXPECT_EQ(image.BytesPerRow(), 0u);
    EXPECT_NO_THROW(image.SetSize(2, 1, 9, 0));
    EXPECT_EQ(image.Width(), 9u);
    EXPECT_EQ(image.Height(), 0u);
}

TEST(BitmapImageTest, SecondSetSizeReplacesPixelsAndColours) {
    BitmapImage image;
    image.SetSize(4, 2, 5, 2);
    std::fill_n(image.ImageData(), image.BytesPerRow() * 2, uint8_t{0xFF});
    image.ColorMap(3) = {1, 2, 3};
    image.SetSize(256, 8, 6, 3);
    EXPECT_EQ(image.BitCount(), 8u);
    EXPECT_EQ(image.BytesPerRow(), 8u);
    EXPECT_TRUE(AllZero(image));
    EXPECT_EQ(image.ColorMap(3).red, 0);
    EXPECT_NO_THROW((void)image.ColorMap(255));
}

TEST(BitmapImageTest, InvalidBitCountLeavesTheImageEmpty) {
    for (const uint32_t bits : {0u, 3u, 16u, 32u}) {
        BitmapImage image;
        image.SetSize(0, 24, 3, 3);
        try {
            image.SetSize(0, bits, 3, 3);
            ADD_FAILURE() << bits << " bits accepted";
        } catch (const EInvalidBitCount& e) {
            EXPECT_STREQ(e.what(), messages::kInvalidBitCount);
        }
        ExpectEmpty(image, std::to_string(bits) + " bits");
    }
}

// A byte count past 32 bits must be refused, not allocated short after a wrap.
TEST(BitmapImageTest, SizesBeyond32BitsAreRefusedAndLeaveTheImageEmpty) {
    struct Case {
        uint32_t colours;
        uint32_t bitCount;
        uint32_t width;
        uint32_t height;
    };
    for (const Case c : {Case{0, 24, 0x80000000u, 1},
                         {0, 24, 0x55555556u, 1},
                         {256, 8, 65536, 65536},
                         {0, 24, 100000, 100000},
                         {0x60000000u, 8, 1, 1}}) {
        BitmapImage image;
        image.SetSize(0, 24, 3, 3);
        EXPECT_THROW(image.SetSize(c.colours, c.bitCount, c.width, c.height), EImageTooLarge)
            << c.bitCount << " bits, " << c.width << " x " << c.height << ", " << c.colours
            << " colours";
        ExpectEmpty(image, "after a refused size");
    }
}

TEST(ExceptionsTest, EveryLibraryFailureIsAGraphicsExceptionWithItsExactText) {
    const auto check = [](const auto& thrown, const char* message) {
        try {
            throw thrown;
        } catch (const EGraphicsException& e) {
            EXPECT_STREQ(e.what(), message);
        } catch (...) {
            ADD_FAILURE() << message << ": not caught as EGraphicsException";
        }
        try {
            throw thrown;
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), message);
        }
    };
    check(EGraphicsAbort(messages::kAbort), "Abort");
    check(EBmpFileReadError(messages::kBmpReadError), "Error reading BMP input file");
    check(EBmpNotABmpFile(messages::kNotABmp), "Not a Windows Bitmap stream");
    check(EBmpCorruptFile(messages::kCorruptBmp), "Corrupt Windows Bitmap stream");
    check(EBmpNotSupported(messages::kUnsupportedBmp), "Unsupported Bitmap Format");
    check(EInvalidBitCount(messages::kInvalidBitCount), "Invalid bit count");
    check(ESubscriptOutOfRange(messages::kSubscriptOutOfRange), "Subscript out of range");
    check(EPngError(messages::kInvalidCompressionLevel), "Invalid Compression Level");
    check(EPngError(messages::kOutputBufferOverrun), "Output Buffer Overrun");
    check(EPngError("Index Out of Range"), "Index Out of Range");
}

}  // namespace
}  // namespace quenpix
