// Helpers of the decoder's tests: chunks, loading bitmaps, copying images, comparing pixels.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "format/crc32.hpp"
#include "image/bitmap_image.hpp"
#include "image/bmp_decoder.hpp"

namespace quenpix::testing {

inline void PutBe(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// One container chunk: length, type, data and CRC.
inline std::vector<uint8_t> Chunk(const std::string& type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    PutBe(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> typeAndData(type.begin(), type.end());
    typeAndData.insert(typeAndData.end(), data.begin(), data.end());
    out.insert(out.end(), typeAndData.begin(), typeAndData.end());
    PutBe(out, Crc32(0xFFFFFFFF, typeAndData) ^ 0xFFFFFFFF);
    return out;
}

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
