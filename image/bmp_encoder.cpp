// BmpEncoder: file header, info header, padded rows.
#include "image/bmp_encoder.hpp"

#include <algorithm>
#include <array>
#include <ostream>
#include <vector>

#include "image/bitmap_image.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

namespace {

// 72 dots per inch, what most writers put there; a plain bitmap then comes back byte for byte.
constexpr uint32_t kPixelsPerMetre = 2835;
constexpr uint32_t kWriteBytes = 1u << 20;

void PutLe(uint8_t* out, uint32_t value, int bytes) noexcept {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::array<uint8_t, BmpEncoder::kHeaderBytes> BmpEncoder::Header(uint32_t width,
                                                                 uint32_t height) {
    const uint64_t stride = (uint64_t{3} * width + 3) & ~uint64_t{3};
    const uint64_t pixelBytes = stride * height;
    if (pixelBytes + kHeaderBytes > 0xFFFFFFFFull) throw EImageTooLarge(messages::kImageTooLarge);

    std::array<uint8_t, kHeaderBytes> header{};
    header[0] = 'B';
    header[1] = 'M';
    PutLe(&header[2], static_cast<uint32_t>(pixelBytes + kHeaderBytes), 4);
    PutLe(&header[10], kHeaderBytes, 4);  // offset of the pixel data
    PutLe(&header[14], kInfoHeaderBytes, 4);
    PutLe(&header[18], width, 4);
    PutLe(&header[22], height, 4);  // positive: rows stored bottom-up
    PutLe(&header[26], 1, 2);       // planes
    PutLe(&header[28], 24, 2);      // bits per pixel
    // Compression 0 (none), the image size, 72 dots per inch both ways, no colour counts.
    PutLe(&header[34], static_cast<uint32_t>(pixelBytes), 4);
    PutLe(&header[38], kPixelsPerMetre, 4);
    PutLe(&header[42], kPixelsPerMetre, 4);
    return header;
}

void BmpEncoder::WriteImage(std::ostream& output, BitmapImage& image) {
    if (image.BitCount() != 24) throw EInvalidBitCount(messages::kNotTrueColour);
    const uint32_t width = image.Width();
    const uint32_t height = image.Height();
    const uint32_t rowBytes = 3 * width;
    const uint32_t stride = (rowBytes + 3) & ~3u;
    const std::array<uint8_t, kHeaderBytes> header = Header(width, height);
    const uint64_t pixelBytes = uint64_t{stride} * height;
    output.write(reinterpret_cast<const char*>(header.data()), header.size());

    // The image stores its rows bottom-up and padded, as the file does: when every padding
    // byte is zero, the pixels go out as they are, in one piece.
    const uint8_t* pixels = image.ImageData();
    bool paddingIsZero = true;
    for (uint32_t r = 0; r < height && paddingIsZero; ++r) {
        const uint8_t* padding = pixels + size_t{r} * stride + rowBytes;
        paddingIsZero =
            std::all_of(padding, padding + (stride - rowBytes), [](uint8_t b) { return b == 0; });
    }
    if (paddingIsZero) {
        output.write(reinterpret_cast<const char*>(pixels),
                     static_cast<std::streamsize>(pixelBytes));
        return;
    }

    // Otherwise rows go out many at a time, padded with zeros whatever the image's own padding
    // bytes hold: a stream writes each large piece with a system call of its own.
    const uint32_t rowsPerWrite =
        std::max<uint32_t>(1, kWriteBytes / std::max<uint32_t>(stride, 1));
    std::vector<uint8_t> rows(
        size_t{stride} * std::min(rowsPerWrite, std::max<uint32_t>(height, 1)), 0);
    for (uint32_t k = 0; k < height;) {
        const uint32_t count = std::min(rowsPerWrite, height - k);
        for (uint32_t i = 0; i < count; ++i, ++k) {
            std::copy_n(image.RowData(height - 1 - k), rowBytes, rows.begin() + size_t{i} * stride);
        }
        output.write(reinterpret_cast<const char*>(rows.data()),
                     static_cast<std::streamsize>(size_t{count} * stride));
    }
}

}  // namespace quenpix
