// Adler-32 over runs of bytes.
#include "stream/adler32.hpp"

#include <algorithm>

namespace quenpix {

uint32_t UpdateAdler32(uint32_t adler, std::span<const uint8_t> bytes) noexcept {
    constexpr size_t kRun = 5552;
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    const uint8_t* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const size_t n = std::min(left, kRun);
        for (size_t i = 0; i < n; ++i) {
            a += p[i];
            b += a;
        }
        a %= kAdlerModulus;
        b %= kAdlerModulus;
        p += n;
        left -= n;
    }
    return b << 16 | a;
}

}  // namespace quenpix
