// PpmWriter: a 24-bit image as a binary portable pixmap (P6), rows top to bottom.
#include "driver/ppm_writer.hpp"

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "image/bitmap_image.hpp"
#include "image/channel_order.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

namespace {

// Rows go out about a megabyte at a time, each write a system call of its own.
constexpr size_t kWriteBytes = size_t{1} << 20;

}  // namespace

void WritePpm(std::ostream& output, const BitmapImage& image) {
    if (image.BitCount() != 24) throw EInvalidBitCount(messages::kNotTrueColour);
    const std::string header =
        "P6\n" + std::to_string(image.Width()) + " " + std::to_string(image.Height()) + "\n255\n";
    output.write(header.data(), static_cast<std::streamsize>(header.size()));
    const size_t rowBytes = size_t{3} * image.Width();
    const uint32_t rowsPerWrite =
        static_cast<uint32_t>(std::max<size_t>(1, kWriteBytes / std::max<size_t>(rowBytes, 1)));
    std::vector<uint8_t> rows(rowBytes * std::min(rowsPerWrite, image.Height()));
    for (uint32_t r = 0; r < image.Height();) {
        const uint32_t count = std::min(rowsPerWrite, image.Height() - r);
        for (uint32_t i = 0; i < count; ++i, ++r)
            CopySwappingRedAndBlue(image.RowData(r), rows.data() + i * rowBytes, image.Width());
        output.write(reinterpret_cast<const char*>(rows.data()),
                     static_cast<std::streamsize>(count * rowBytes));
    }
}

}  // namespace quenpix
