// CRC-32 (reflected, polynomial 0xEDB88320) as used for the container's chunk CRCs.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace quenpix {

inline constexpr std::array<uint32_t, 256> kCrc32Table = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

// Updates the CRC register with `bytes`; a chunk's CRC starts at 0xFFFFFFFF and is
// inverted at the end.
[[nodiscard]] constexpr uint32_t Crc32(uint32_t crc, std::span<const uint8_t> bytes) noexcept {
    for (const uint8_t b : bytes)
        crc = kCrc32Table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace quenpix
