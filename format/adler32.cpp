// Adler-32 over runs of bytes.
#include "format/adler32.hpp"

#include <algorithm>

namespace quenpix {

uint32_t UpdateAdler32(uint32_t adler, std::span<const uint8_t> bytes) noexcept {
    // 5552 bytes is the longest run whose sums cannot overflow 32 bits before the reduction.
    constexpr size_t kRun = 5552;
    constexpr size_t kBlock = 32;
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    const uint8_t* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const size_t n = std::min(left, kRun);
        size_t i = 0;
        // A block of bytes adds their sum to a, and to b the block's length times a plus each
        // byte weighted by how many of the block's sums it enters: the same totals as adding
        // byte by byte, in a form that vectorises.
        for (; i + kBlock <= n; i += kBlock) {
            uint32_t sum = 0;
            uint32_t weighted = 0;
            for (size_t k = 0; k < kBlock; ++k) {
                sum += p[i + k];
                weighted += static_cast<uint32_t>(kBlock - k) * p[i + k];
            }
            b += static_cast<uint32_t>(kBlock) * a + weighted;
            a += sum;
        }
        for (; i < n; ++i) {
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
