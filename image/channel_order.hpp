// Pixels copied between the two byte orders of 24-bit images: blue-green-red and red-green-blue.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quenpix {

// Copies `pixels` 3-byte pixels from `in` to `out`, swapping the first and third byte of each;
// the same copy turns either order into the other. The buffers must not overlap.
inline void CopySwappingRedAndBlue(const uint8_t* __restrict in, uint8_t* __restrict out,
                                   size_t pixels) noexcept {
    for (size_t p = 0; p < 3 * pixels; p += 3) {
        out[p] = in[p + 2];
        out[p + 1] = in[p + 1];
        out[p + 2] = in[p];
    }
}

}  // namespace quenpix
