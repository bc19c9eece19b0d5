// Helpers of the decoder's tests: loading bitmaps, copying images, comparing decoded pixels.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "image/bitmap_image.hpp"
#include "image/bmp_decoder.hpp"

namespace quenpix::testing {

inline void LoadBmp(std::span<const uint8_t> bytes, BitmapImage& image) {
    std::istringstream in(std::string(bytes.begin(), bytes.end()), std::ios::binary);
    BmpDecoder decoder;
    decoder.ReadImage(in, image);
}

inline void CopyImage(const BitmapImage& from, BitmapImage& to) {
    to.SetSize(0, from.BitCount(), from.Width(), from.Height());
    std::memcpy(to.ImageData(), from.ImageData(), size_t{from.BytesPerRow()} * from.Height());
}

// "" when both are 24-bit images of the same size and pixels (row padding ignored); otherwise
// where they first differ.
inline std::string FirstPixelDifference(const BitmapImage& expected, const BitmapImage& actual) {
    std::ostringstream out;
    if (actual.BitCount() != 24 || expected.Width() != actual.Width() ||
        expected.Height() != actual.Height()) {
        out << "decoded " << actual.Width() << " x " << actual.Height() << " at "
            << actual.BitCount() << " bits, expected " << expected.Width() << " x "
            << expected.Height();
        return out.str();
    }
    for (uint32_t y = 0; y < expected.Height(); ++y) {
        const uint8_t* e = expected.RowData(y);
        const uint8_t* a = actual.RowData(y);
        for (uint32_t i = 0; i < 3 * expected.Width(); ++i) {
            if (e[i] != a[i]) {
                out << "pixel (" << i / 3 << ", " << y << ") byte " << i % 3
                    << " (0 blue): " << int{a[i]} << " decoded, " << int{e[i]} << " expected";
                return out.str();
            }
        }
    }
    return "";
}

}  // namespace quenpix::testing
