// libFuzzer target: small images encoded under arbitrary options must decode to their pixels.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "decoder/png_decoder.hpp"
#include "encoder/png_encoder.hpp"
#include "image/bitmap_image.hpp"

namespace {

// Layout of an input: options, width - 1, then the pixels.
// Options: bits 0-1 compression level, bit 2 -P, bit 3 -R, bit 4 palette mode, in which each
// byte after the first 24 picks one of the 8 colours those 24 bytes define, so that images
// repeat themselves and the match search has something to find.
constexpr size_t kPrefixBytes = 2;
constexpr uint32_t kMaxPixels = 4096;
constexpr size_t kPaletteBytes = 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kPrefixBytes) return 0;
    const uint8_t options = data[0];
    const uint32_t width = data[1] % 64 + 1;
    const bool palette = (options & 0x10) != 0;
    const uint8_t* pixels = data + kPrefixBytes;
    size_t pixelBytes = size - kPrefixBytes;
    if (palette) {
        if (pixelBytes < kPaletteBytes) return 0;
        pixelBytes -= kPaletteBytes;
    }
    const size_t available = palette ? pixelBytes : pixelBytes / 3;
    const uint32_t height =
        static_cast<uint32_t>(std::min<size_t>(available / width, kMaxPixels / width));
    if (height == 0) return 0;

    quenpix::BitmapImage original;
    original.SetSize(0, 24, width, height);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = original.RowData(y);
        for (uint32_t x = 0; x < width; ++x) {
            const size_t i = size_t{y} * width + x;
            const uint8_t* colour =
                palette ? pixels + 3 * (pixels[kPaletteBytes + i] % 8) : pixels + 3 * i;
            std::memcpy(row + 3 * x, colour, 3);
        }
    }
    quenpix::BitmapImage image;
    image.SetSize(0, 24, width, height);
    std::memcpy(image.ImageData(), original.ImageData(), size_t{image.BytesPerRow()} * height);

    quenpix::PngEncoder encoder;
    encoder.SetCompressionLevel(options & 3);
    if ((options & 4) != 0) {
        encoder.DisableVerticalPlane();
        encoder.DisableHorizontalPlane();
    }
    encoder.SetReplaceShortMatches((options & 8) == 0);
    std::ostringstream out(std::ios::binary);
    encoder.WriteImage(out, image);
    const std::string file = out.str();

    quenpix::BitmapImage decoded;
    quenpix::PngDecoder decoder;
    decoder.DecodeImage(std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()),
                        encoder.SideFile().Contents(), decoded);
    for (uint32_t y = 0; y < height; ++y) {
        if (std::memcmp(original.RowData(y), decoded.RowData(y), size_t{3} * width) != 0) {
            std::abort();
        }
    }
    return 0;
}
