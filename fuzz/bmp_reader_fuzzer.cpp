// libFuzzer target: arbitrary bytes through BmpDecoder::ReadImage.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "image/bitmap_image.hpp"
#include "image/bmp_decoder.hpp"
#include "image/exceptions.hpp"

namespace {

// Legitimate images up to 4 GiB exist, but allocating them would trip libFuzzer's malloc limit
// without telling anything about the reader, so only smaller ones are also read in full.
constexpr uint64_t kMaxPixelBytes = uint64_t{64} << 20;

uint32_t Le(const uint8_t* data, size_t at, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | data[at + static_cast<size_t>(i)];
    return value;
}

// The pixel bytes the headers declare, at the widest row any bit count gives.
bool DeclaresTooManyPixelBytes(const uint8_t* data, size_t size) {
    if (size < 26) return false;
    const uint32_t headerSize = Le(data, 14, 4);
    uint64_t width = 0;
    uint64_t height = 0;
    if (headerSize == 12) {
        width = Le(data, 18, 2);
        height = Le(data, 20, 2);
    } else {
        const auto signedHeight = static_cast<int32_t>(Le(data, 22, 4));
        width = Le(data, 18, 4);
        height = signedHeight < 0 ? -int64_t{signedHeight} : signedHeight;
    }
    // Rows of width 0 still cost a loop step each, so every row counts as at least 4 bytes.
    const uint64_t paddedRow = std::max<uint64_t>((3 * width + 3) & ~uint64_t{3}, 4);
    return paddedRow * height > kMaxPixelBytes;
}

// Reads the bytes as the encoder tool does (true colour only) or in full; false if refused.
bool Read(const uint8_t* data, size_t size, bool trueColourOnly, quenpix::BitmapImage& image) {
    std::istringstream input(std::string(reinterpret_cast<const char*>(data), size),
                             std::ios::binary);
    quenpix::BmpDecoder decoder;
    decoder.SetTrueColourOnly(trueColourOnly);
    try {
        decoder.ReadImage(input, image);
    } catch (const quenpix::EGraphicsException&) {
        return false;
    }
    return true;
}

// Touches both ends of each buffer so that one shorter than its geometry shows up.
void Touch(const quenpix::BitmapImage& image) {
    const size_t pixelBytes = size_t{image.BytesPerRow()} * image.Height();
    volatile uint8_t sink = 0;
    if (pixelBytes > 0) sink = image.ImageData()[0] ^ image.ImageData()[pixelBytes - 1];
    if (image.ColorCount() > 0) sink = image.ColorMap(image.ColorCount() - 1).red;
    (void)sink;
}

}  // namespace

// The tool's way first: every input, whatever it declares, must be refused or read cheaply.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quenpix::BitmapImage image;
    if (Read(data, size, true, image)) Touch(image);
    if (!DeclaresTooManyPixelBytes(data, size) && Read(data, size, false, image)) Touch(image);
    return 0;
}
