// PngWriter: a 24-bit image as an ordinary PNG file, through libpng, for any image viewer.
#include "driver/png_writer.hpp"

#include <png.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>

#include "image/bitmap_image.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

namespace {

constexpr size_t kMessageBytes = 200;

struct WriteTarget {
    std::ostream* output;
    std::array<char, kMessageBytes> message;
};

// libpng reports a failure here and then expects never to be returned to: the jump goes back to
// the setjmp in WriteRows.
[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    auto& target = *static_cast<WriteTarget*>(png_get_error_ptr(png));
    std::strncpy(target.message.data(), message, kMessageBytes - 1);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnWrite(png_structp png, png_bytep bytes, size_t count) {
    auto& target = *static_cast<WriteTarget*>(png_get_io_ptr(png));
    target.output->write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
}

void OnFlush(png_structp png) {
    static_cast<WriteTarget*>(png_get_io_ptr(png))->output->flush();
}

// No object with a destructor lives in this frame, which libpng's error jump leaves.
bool WriteRows(png_structp png, png_infop info, const BitmapImage& image) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, image.Width(), image.Height(), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Fast: the cheapest filter that helps photographs, and zlib's fastest level.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, Z_BEST_SPEED);
    png_write_info(png, info);
    // The image stores blue first; libpng swaps each pixel on the way out.
    png_set_bgr(png);
    for (uint32_t r = 0; r < image.Height(); ++r)
        png_write_row(png, image.RowData(r));
    png_write_end(png, info);
    return true;
}

// Owns libpng's two structures.
class PngWriteStructs final {
  public:
    explicit PngWriteStructs(WriteTarget& target)
        : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, &target, OnError, OnWarning)) {
        if (png_ == nullptr) throw std::bad_alloc();
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) {
            png_destroy_write_struct(&png_, nullptr);
            throw std::bad_alloc();
        }
        png_set_write_fn(png_, &target, OnWrite, OnFlush);
    }
    ~PngWriteStructs() { png_destroy_write_struct(&png_, &info_); }
    PngWriteStructs(const PngWriteStructs&) = delete;
    PngWriteStructs& operator=(const PngWriteStructs&) = delete;

    [[nodiscard]] png_structp png() const noexcept { return png_; }
    [[nodiscard]] png_infop info() const noexcept { return info_; }

  private:
    png_structp png_;
    png_infop info_ = nullptr;
};

}  // namespace

void WritePng(std::ostream& output, const BitmapImage& image) {
    if (image.BitCount() != 24) throw EInvalidBitCount(messages::kNotTrueColour);
    WriteTarget target{&output, {}};
    const PngWriteStructs structs(target);
    if (!WriteRows(structs.png(), structs.info(), image)) {
        throw std::runtime_error(std::string("PNG output failed: ") + target.message.data());
    }
}

}  // namespace quenpix
