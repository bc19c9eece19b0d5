// Adler-32 checksum of the raw plane, carried as the image stream's trailer.
#pragma once

#include <cstdint>
#include <span>

namespace quenpix {

inline constexpr uint32_t kAdlerModulus = 65521;

// One byte at a time, as the stream's checksum is defined.
[[nodiscard]] constexpr uint32_t UpdateAdler32(uint32_t adler, uint8_t byte) noexcept {
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    a = (a + byte) % kAdlerModulus;
    b = (b + a) % kAdlerModulus;
    return b << 16 | a;
}

// The same value over a run of bytes, reducing only every 5552 bytes (the longest run whose
// sums cannot overflow 32 bits); with AVX2 where the processor has it.
[[nodiscard]] uint32_t UpdateAdler32(uint32_t adler, std::span<const uint8_t> bytes) noexcept;
// The same for any processor, in blocks that the compiler vectorises.
[[nodiscard]] uint32_t UpdateAdler32Portable(uint32_t adler,
                                             std::span<const uint8_t> bytes) noexcept;

}  // namespace quenpix
