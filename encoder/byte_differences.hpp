// Byte-wise differences against an earlier byte of the same buffer, written to another buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quenpix {

// out[k] = in[k] - in[k - back] (modulo 256) for k in [from, to), with from >= back. The buffers
// never overlap; saying so lets the loop run many bytes at a time.
inline void ByteDifferences(const uint8_t* __restrict in, uint8_t* __restrict out, size_t back,
                            size_t from, size_t to) noexcept {
    for (size_t k = from; k < to; ++k)
        out[k] = static_cast<uint8_t>(in[k] - in[k - back]);
}

}  // namespace quenpix
