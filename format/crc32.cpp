// CRC-32 by carry-less multiplication, where the processor has it.
#include "format/crc32.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUENPIX_CRC32_FOLDING 1
#endif

namespace quenpix {

#if defined(QUENPIX_CRC32_FOLDING)

namespace {

__attribute__((target("pclmul"))) inline __m128i Load(const uint8_t* at) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The lane folded forward by the distance `by` is made for, xored with the lane there.
__attribute__((target("pclmul"))) inline __m128i Fold(__m128i lane, __m128i by,
                                                      __m128i next) noexcept {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(lane, by, 0x00), _mm_clmulepi64_si128(lane, by, 0x11)),
        next);
}

// Four 16-byte lanes are folded 64 bytes forward at a time, then into one lane, which is
// folded 16 bytes forward at a time. A lane is folded by multiplying each half, without
// carries, by a constant that moves it that distance on modulo the polynomial (bit-reflected):
// one pair of constants for 64 bytes, one for 16. What is left is a lane that stands for all
// the bytes before it, with a register of 0; the tables finish it and the last bytes.
__attribute__((target("pclmul"))) uint32_t Crc32Folded(uint32_t crc, const uint8_t* p,
                                                       size_t n) noexcept {
    const __m128i by64 = _mm_set_epi64x(0x01C6E41596, 0x0154442BD4);
    const __m128i by16 = _mm_set_epi64x(0x00CCAA009E, 0x01751997D0);
    // The register enters as the first four bytes, xored in.
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = Load(p + 16);
    __m128i x2 = Load(p + 32);
    __m128i x3 = Load(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; n -= 64, p += 64) {
        x0 = Fold(x0, by64, Load(p));
        x1 = Fold(x1, by64, Load(p + 16));
        x2 = Fold(x2, by64, Load(p + 32));
        x3 = Fold(x3, by64, Load(p + 48));
    }
    x0 = Fold(x0, by16, x1);
    x0 = Fold(x0, by16, x2);
    x0 = Fold(x0, by16, x3);
    for (; n >= 16; n -= 16, p += 16)
        x0 = Fold(x0, by16, Load(p));
    alignas(16) uint8_t lane[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lane), x0);
    return Crc32Tables(Crc32Tables(0, std::span<const uint8_t>(lane, 16)),
                       std::span<const uint8_t>(p, n));
}

bool HasCarrylessMultiply() noexcept {
    static const bool has = __builtin_cpu_supports("pclmul");
    return has;
}

}  // namespace

uint32_t Crc32Fast(uint32_t crc, std::span<const uint8_t> bytes) noexcept {
    if (bytes.size() >= 64 && HasCarrylessMultiply()) {
        return Crc32Folded(crc, bytes.data(), bytes.size());
    }
    return Crc32Tables(crc, bytes);
}

#else

uint32_t Crc32Fast(uint32_t crc, std::span<const uint8_t> bytes) noexcept {
    return Crc32Tables(crc, bytes);
}

#endif

}  // namespace quenpix
