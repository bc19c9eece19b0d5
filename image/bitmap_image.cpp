// BitmapImage geometry and colour-map access.
#include "image/bitmap_image.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "image/exceptions.hpp"

namespace quenpix {

void BitmapImage::Clear() noexcept {
    bitCount_ = 0;
    width_ = 0;
    height_ = 0;
    colorCount_ = 0;
    rowWidth_ = 0;
    pixels_.reset();
    colorMap_.reset();
}

void BitmapImage::SetSize(uint32_t colorCount, uint32_t bitCount, uint32_t width, uint32_t height) {
    Clear();
    const bool indexed = bitCount == 1 || bitCount == 2 || bitCount == 4 || bitCount == 8;
    if (!indexed && bitCount != 24) throw EInvalidBitCount(messages::kInvalidBitCount);

    // Sizes are checked in 64 bits: every buffer must stay addressable with 32-bit counts.
    constexpr uint64_t kLimit = std::numeric_limits<uint32_t>::max();
    const uint64_t rowBytes = indexed ? (uint64_t{bitCount} * width + 7) >> 3 : uint64_t{3} * width;
    const uint64_t rowWidth = (rowBytes + 3) & ~uint64_t{3};
    const uint64_t colourBytes = indexed ? uint64_t{3} * colorCount : 0;
    if (rowWidth > kLimit || rowWidth * height > kLimit || colourBytes > kLimit) {
        throw EImageTooLarge(messages::kImageTooLarge);
    }

    // With 24 bits there is no map, so no index can be valid: the count is stored as 0.
    auto map = std::make_unique<ColorMapEntry[]>(indexed ? colorCount : 0);
    LargeBuffer pixels = AllocateLargeZeroed(static_cast<size_t>(rowWidth * height));
    colorMap_ = std::move(map);
    pixels_ = std::move(pixels);
    bitCount_ = bitCount;
    width_ = width;
    height_ = height;
    colorCount_ = indexed ? colorCount : 0;
    rowWidth_ = static_cast<uint32_t>(rowWidth);
}

void BitmapImage::Swap(BitmapImage& other) noexcept {
    std::swap(rowWidth_, other.rowWidth_);
    std::swap(bitCount_, other.bitCount_);
    std::swap(width_, other.width_);
    std::swap(height_, other.height_);
    std::swap(pixels_, other.pixels_);
    std::swap(colorCount_, other.colorCount_);
    std::swap(colorMap_, other.colorMap_);
}

ColorMapEntry& BitmapImage::ColorMap(uint32_t index) {
    if (index >= colorCount_) throw ESubscriptOutOfRange(messages::kSubscriptOutOfRange);
    return colorMap_[index];
}

const ColorMapEntry& BitmapImage::ColorMap(uint32_t index) const {
    if (index >= colorCount_) throw ESubscriptOutOfRange(messages::kSubscriptOutOfRange);
    return colorMap_[index];
}

}  // namespace quenpix
