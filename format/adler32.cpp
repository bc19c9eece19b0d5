// Adler-32 over runs of bytes.
#include "format/adler32.hpp"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUENPIX_ADLER32_AVX2 1
#endif

namespace quenpix {

namespace {

// 5552 bytes is the longest run whose sums cannot overflow 32 bits before the reduction.
constexpr size_t kRun = 5552;

// Adds the bytes after the whole blocks of a run one at a time, and reduces.
uint32_t FinishRun(uint32_t a, uint32_t b, const uint8_t* p, size_t n) noexcept {
    for (size_t i = 0; i < n; ++i) {
        a += p[i];
        b += a;
    }
    return (b % kAdlerModulus) << 16 | (a % kAdlerModulus);
}

#if defined(QUENPIX_ADLER32_AVX2)

__attribute__((target("avx2"))) uint64_t Sum64(__m256i v) noexcept {
    const __m128i half = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return static_cast<uint64_t>(_mm_cvtsi128_si64(half)) +
           static_cast<uint64_t>(_mm_extract_epi64(half, 1));
}

// The same blocks of 32 bytes, each in one step: the byte sum by sums of absolute differences
// from zero, the weighted sum by multiplying with the weights 32..1 and adding pairs. The sum
// of a at the start of each block is gathered too, and multiplied by 32 once per run.
__attribute__((target("avx2"))) uint32_t Adler32Avx2(uint32_t adler, const uint8_t* p,
                                                     size_t left) noexcept {
    constexpr size_t kBlock = 32;
    const __m256i weights =
        _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14,
                         13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    while (left > 0) {
        const size_t n = std::min(left, kRun);
        const size_t blocks = n / kBlock;
        __m256i sums = zero;      // byte sums, four 64-bit lanes
        __m256i earlier = zero;   // the byte sums before each block, added up
        __m256i weighted = zero;  // weighted sums, eight 32-bit lanes
        for (size_t k = 0; k < blocks; ++k) {
            const __m256i bytes =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k * kBlock));
            earlier = _mm256_add_epi64(earlier, sums);
            sums = _mm256_add_epi64(sums, _mm256_sad_epu8(bytes, zero));
            weighted = _mm256_add_epi32(
                weighted, _mm256_madd_epi16(_mm256_maddubs_epi16(bytes, weights), ones));
        }
        const uint64_t a = adler & 0xFFFF;
        const uint64_t b = adler >> 16;
        // In 64 bits: the sums of a run reach past 32 bits before the reduction.
        const uint64_t weightedSum =
            Sum64(_mm256_add_epi64(_mm256_and_si256(weighted, _mm256_set1_epi64x(0xFFFFFFFF)),
                                   _mm256_srli_epi64(weighted, 32)));
        const uint64_t newA = a + Sum64(sums);
        const uint64_t newB = b + kBlock * (blocks * a + Sum64(earlier)) + weightedSum;
        const size_t done = blocks * kBlock;
        adler = FinishRun(static_cast<uint32_t>(newA % kAdlerModulus),
                          static_cast<uint32_t>(newB % kAdlerModulus), p + done, n - done);
        p += n;
        left -= n;
    }
    return adler;
}

bool HasAvx2() noexcept {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

#endif

}  // namespace

uint32_t UpdateAdler32Portable(uint32_t adler, std::span<const uint8_t> bytes) noexcept {
    const uint8_t* p = bytes.data();
    size_t left = bytes.size();
    constexpr size_t kBlock = 32;
    while (left > 0) {
        const size_t n = std::min(left, kRun);
        uint32_t a = adler & 0xFFFF;
        uint32_t b = adler >> 16;
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
        adler = FinishRun(a, b, p + i, n - i);
        p += n;
        left -= n;
    }
    return adler;
}

uint32_t UpdateAdler32(uint32_t adler, std::span<const uint8_t> bytes) noexcept {
#if defined(QUENPIX_ADLER32_AVX2)
    if (HasAvx2()) return Adler32Avx2(adler, bytes.data(), bytes.size());
#endif
    return UpdateAdler32Portable(adler, bytes);
}

}  // namespace quenpix
