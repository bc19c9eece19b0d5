// Tests of the 24-bit BMP writer: exact headers, zero padding, and reading the file back.
#include "image/bmp_encoder.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "decoded_image_support.hpp"
#include "image/bitmap_image.hpp"
#include "image/bmp_decoder.hpp"
#include "image/exceptions.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Write(BitmapImage& image) {
    std::ostringstream out(std::ios::binary);
    BmpEncoder encoder;
    encoder.WriteImage(out, image);
    const std::string s = out.str();
    return {s.begin(), s.end()};
}

TEST(BmpEncoder, WritesHeadersAndBottomUpRowsWithZeroPadding) {
    BitmapImage image;
    image.SetSize(0, 24, 2, 2);
    // Row 0 (top): pixels 1..6; row 1: 7..12; the padding bytes hold junk that must not leak.
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint8_t i = 0; i < 6; ++i)
            image.RowData(y)[i] = static_cast<uint8_t>(6 * y + i + 1);
        image.RowData(y)[6] = 0xEE;
        image.RowData(y)[7] = 0xEE;
    }
    const Bytes expected = {'B',  'M',  70, 0,  0,    0,    0, 0, 0, 0, 54, 0, 0, 0,  // file header
                            40,   0,    0,  0,  2,    0,    0, 0, 2, 0, 0,  0, 1, 0,
                            24,   0,  // size, width, height, planes, bits
                            0,    0,    0,  0,  16,   0,    0, 0,  // no compression, 16 pixel bytes
                            0x13, 0x0B, 0,  0,  0x13, 0x0B, 0, 0,  // 2835 pixels per metre
                            0,    0,    0,  0,  0,    0,    0, 0,  // colour counts
                            7,    8,    9,  10, 11,   12,   0, 0,  // bottom row first
                            1,    2,    3,  4,  5,    6,    0, 0};
    EXPECT_EQ(Write(image), expected);
}

TEST(BmpEncoder, PlainBitmapComesBackByteForByte) {
    const Bytes original =
        testing::ReadFileBytes(testing::DataPath("public/p20_photo_300x240.bmp"));
    BitmapImage image;
    std::istringstream in(std::string(original.begin(), original.end()));
    BmpDecoder().ReadImage(in, image);
    EXPECT_EQ(Write(image), original);
}

TEST(BmpEncoder, TheBitmapReaderGetsThePixelsBack) {
    BitmapImage image;
    image.SetSize(0, 24, 5, 3);
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t i = 0; i < 15; ++i)
            image.RowData(y)[i] = static_cast<uint8_t>(y * 31 + i * 7);
    }
    BitmapImage read;
    testing::LoadBmp(Write(image), read);
    EXPECT_EQ(testing::FirstPixelDifference(image, read), "");

    BitmapImage indexed;
    indexed.SetSize(2, 8, 4, 4);
    EXPECT_THROW((void)Write(indexed), EInvalidBitCount);
}

}  // namespace
}  // namespace quenpix
