// RowTarget: where a decoder puts the image's rows as it finishes them.
#pragma once

#include <cstdint>

namespace quenpix {

// Receives a decoded image row by row, in the stored form of a 24-bit bitmap: blue, green, red,
// each row padded with zeros to a multiple of 4 bytes. Start comes first, on the decoding call's
// thread; then for each row from the top, in order, Row and Finished, on whichever thread
// finishes rows (one at a time).
class RowTarget {
  public:
    virtual ~RowTarget() = default;

    // The image's size, before any row. May throw to refuse it.
    virtual void Start(uint32_t width, uint32_t height) = 0;
    // Room for row `row`: 3 x width bytes that the decoder writes, then padding bytes that the
    // target keeps zero.
    [[nodiscard]] virtual uint8_t* Row(uint32_t row) noexcept = 0;
    // Row `row` is in place.
    virtual void Finished(uint32_t row) noexcept = 0;
};

}  // namespace quenpix
