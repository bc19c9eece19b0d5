// BitmapImage: an in-memory raster laid out exactly like a BMP pixel array.
#pragma once

#include <cstdint>
#include <memory>

#include "image/large_buffer.hpp"

namespace quenpix {

// One colour-table entry, in BMP order.
struct ColorMapEntry {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
};

// Rows are stored bottom-up and padded to 4 bytes; 24-bit pixels are blue, green, red.
class BitmapImage {
  public:
    BitmapImage() = default;
    virtual ~BitmapImage() = default;
    BitmapImage(const BitmapImage&) = delete;
    BitmapImage& operator=(const BitmapImage&) = delete;

    // Replaces the content with a zero-filled image of the given geometry. Throws
    // EInvalidBitCount for bit counts other than 1, 2, 4, 8, 24 and EImageTooLarge when
    // the pixel or colour buffer would not fit in 32 bits; either way the image is left empty.
    void SetSize(uint32_t colorCount, uint32_t bitCount, uint32_t width, uint32_t height);

    // Exchanges the whole content of two images, buffers included.
    void Swap(BitmapImage& other) noexcept;

    // Entry `index` of the colour map; throws ESubscriptOutOfRange past ColorCount().
    [[nodiscard]] ColorMapEntry& ColorMap(uint32_t index);
    [[nodiscard]] const ColorMapEntry& ColorMap(uint32_t index) const;

    [[nodiscard]] uint32_t BitCount() const noexcept { return bitCount_; }
    [[nodiscard]] uint32_t Width() const noexcept { return width_; }
    [[nodiscard]] uint32_t Height() const noexcept { return height_; }
    [[nodiscard]] uint32_t BytesPerRow() const noexcept { return rowWidth_; }
    [[nodiscard]] uint32_t ColorCount() const noexcept { return colorCount_; }
    // The first stored byte: the start of the bottom row.
    [[nodiscard]] uint8_t* ImageData() noexcept { return pixels_.get(); }
    [[nodiscard]] const uint8_t* ImageData() const noexcept { return pixels_.get(); }
    // The start of row r counted from the top; r must be below Height().
    [[nodiscard]] uint8_t* RowData(uint32_t r) noexcept {
        return pixels_.get() + static_cast<size_t>(height_ - 1 - r) * rowWidth_;
    }
    [[nodiscard]] const uint8_t* RowData(uint32_t r) const noexcept {
        return pixels_.get() + static_cast<size_t>(height_ - 1 - r) * rowWidth_;
    }

  private:
    void Clear() noexcept;

    uint32_t rowWidth_ = 0;
    uint32_t bitCount_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    LargeBuffer pixels_;
    uint32_t colorCount_ = 0;
    std::unique_ptr<ColorMapEntry[]> colorMap_;
};

}  // namespace quenpix
