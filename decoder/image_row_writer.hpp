// ImageRowWriter: rows of the raw plane into the image's stored pixels, the colour transform
// undone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "format/colour_transform.hpp"

namespace quenpix {

class BitmapImage;

// Told of each row of the image once it is stored: the image being written, and the row's number
// from the top. Rows come in order, on whichever thread completes them. It must not throw.
using FinishedRowFunction = std::function<void(const BitmapImage& image, uint32_t row)>;

class ImageRowWriter final {
  public:
    // `image` is already sized to the plane's width and height at 24 bits. `finished`, if set,
    // is called after each row is written.
    ImageRowWriter(BitmapImage& image, const ColourTransform& transform,
                   FinishedRowFunction finished = {}) noexcept;

    // Row `row` (from the top) of the raw plane, 3 x width bytes of red, green, blue, becomes
    // the image's row of blue, green, red with the subtractions undone. Rows come in order, each
    // once.
    void WriteRow(uint32_t row, const uint8_t* raw) noexcept;

    // The Adler-32 of the rows written so far, as they were in the raw plane.
    [[nodiscard]] uint32_t Checksum() const noexcept { return checksum_; }

  private:
    FinishedRowFunction finished_;
    // Bytes converted at once: a whole number of pixels and of vector registers.
    static constexpr size_t kBlock = 48;
    // Each stored byte is a sum of its pixel's plane bytes, each taken 0, 1 or 2 times: the
    // byte order reversed, then the subtractions undone. For every byte of a block and each
    // neighbour from two before to two after it, the mask of a first and of a second time.
    static constexpr size_t kReach = 5;
    struct Masks {
        std::array<std::array<uint8_t, kBlock>, kReach> once{};
        std::array<std::array<uint8_t, kBlock>, kReach> twice{};
    };

    // One block from raw[-2] to raw[kBlock + 1].
    void ConvertBlock(const uint8_t* raw, uint8_t* out) const noexcept;

    BitmapImage& image_;
    Masks masks_;
    uint32_t checksum_ = 1;
};

}  // namespace quenpix
