// CRC-32 (reflected, polynomial 0xEDB88320) as used for the container's chunk CRCs.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <type_traits>

namespace quenpix {

// Table k gives the effect of a byte followed by k zero bytes, so that eight bytes can be folded
// in at once; table 0 alone is the classic bytewise table.
inline constexpr std::array<std::array<uint32_t, 256>, 8> kCrc32Tables = [] {
    std::array<std::array<uint32_t, 256>, 8> tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (size_t k = 1; k < 8; ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            const uint32_t previous = tables[k - 1][n];
            tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFF];
        }
    }
    return tables;
}();

// Updates the CRC register with `bytes`, eight bytes at a time through the tables.
[[nodiscard]] constexpr uint32_t Crc32Tables(uint32_t crc,
                                             std::span<const uint8_t> bytes) noexcept {
    const auto& t = kCrc32Tables;
    const uint8_t* p = bytes.data();
    size_t n = bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t low = crc ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                                    uint32_t{p[3]} << 24);
        crc = t[7][low & 0xFF] ^ t[6][low >> 8 & 0xFF] ^ t[5][low >> 16 & 0xFF] ^ t[4][low >> 24] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; n > 0; --n, ++p)
        crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

// The same, many times faster where the processor multiplies without carries.
[[nodiscard]] uint32_t Crc32Fast(uint32_t crc, std::span<const uint8_t> bytes) noexcept;

// Updates the CRC register with `bytes`; a chunk's CRC starts at 0xFFFFFFFF and is
// inverted at the end.
[[nodiscard]] constexpr uint32_t Crc32(uint32_t crc, std::span<const uint8_t> bytes) noexcept {
    if (std::is_constant_evaluated()) return Crc32Tables(crc, bytes);
    return Crc32Fast(crc, bytes);
}

}  // namespace quenpix
