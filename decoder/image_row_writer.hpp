// ImageRowWriter: rows of the raw plane into the image's stored pixels, the colour transform
// undone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "decoder/row_target.hpp"
#include "format/colour_transform.hpp"

namespace quenpix {

class ImageRowWriter final {
  public:
    // Rows of `width` pixels go to `target`, which has been started.
    ImageRowWriter(RowTarget& target, uint32_t width, const ColourTransform& transform) noexcept;

    // Row `row` (from the top) of the raw plane, 3 x width bytes of red, green, blue, becomes
    // the target's row of blue, green, red with the subtractions undone. Rows come in order, each
    // once.
    void WriteRow(uint32_t row, const uint8_t* raw) noexcept;

    // The Adler-32 of the rows written so far, as they were in the raw plane.
    [[nodiscard]] uint32_t Checksum() const noexcept { return checksum_; }

  private:
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

    RowTarget& target_;
    size_t rowBytes_;
    Masks masks_;
    uint32_t checksum_ = 1;
};

}  // namespace quenpix
