// The standard length and distance code tables, and the code-length code order.
#pragma once

#include <array>
#include <cstdint>

namespace quenpix {

struct CodeWithExtra {
    uint16_t symbol;
    uint8_t extraBits;
    uint16_t extraValue;
};

inline constexpr uint32_t kEndOfBlock = 256;
inline constexpr uint32_t kFirstLengthSymbol = 257;
inline constexpr uint32_t kLengthSymbolCount = 29;
inline constexpr uint32_t kDistanceSymbolCount = 30;
inline constexpr uint32_t kCodeLengthSymbolCount = 19;

inline constexpr std::array<uint16_t, kLengthSymbolCount> kLengthBase = {
    3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr std::array<uint8_t, kLengthSymbolCount> kLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr std::array<uint16_t, kDistanceSymbolCount> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr std::array<uint8_t, kDistanceSymbolCount> kDistanceExtraBits = {
    0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
inline constexpr std::array<uint8_t, kCodeLengthSymbolCount> kCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

namespace detail {
// Length symbol index (0..28) of every length value 3..258; 258 has its own code.
inline constexpr std::array<uint8_t, 259> kLengthIndex = [] {
    std::array<uint8_t, 259> table{};
    for (uint32_t code = 0; code + 1 < kLengthSymbolCount; ++code) {
        const uint32_t end = kLengthBase[code] + (1u << kLengthExtraBits[code]);
        for (uint32_t v = kLengthBase[code]; v < end && v < 258; ++v)
            table[v] = static_cast<uint8_t>(code);
    }
    table[258] = kLengthSymbolCount - 1;
    return table;
}();
// Distance symbol of distances 1..256 directly, and of larger ones through (d - 1) >> 7.
inline constexpr std::array<uint8_t, 512> kDistanceIndex = [] {
    std::array<uint8_t, 512> table{};
    auto code_of = [](uint32_t d) {
        uint32_t code = 0;
        while (code + 1 < kDistanceSymbolCount && kDistanceBase[code + 1] <= d)
            ++code;
        return static_cast<uint8_t>(code);
    };
    for (uint32_t d = 1; d <= 256; ++d)
        table[d - 1] = code_of(d);
    for (uint32_t i = 2; i < 256; ++i)
        table[256 + i] = code_of((i << 7) + 1);
    return table;
}();
}  // namespace detail

// A length value 3..258 (byte length plus plane) as symbol 257..285 with its extra bits.
[[nodiscard]] constexpr CodeWithExtra LengthToCode(uint32_t value) noexcept {
    const uint32_t index = detail::kLengthIndex[value];
    return {static_cast<uint16_t>(kFirstLengthSymbol + index), kLengthExtraBits[index],
            static_cast<uint16_t>(value - kLengthBase[index])};
}

// A distance 1..32768 as symbol 0..29 with its extra bits.
[[nodiscard]] constexpr CodeWithExtra DistanceToCode(uint32_t distance) noexcept {
    const uint32_t index = distance <= 256 ? detail::kDistanceIndex[distance - 1]
                                           : detail::kDistanceIndex[256 + ((distance - 1) >> 7)];
    return {static_cast<uint16_t>(index), kDistanceExtraBits[index],
            static_cast<uint16_t>(distance - kDistanceBase[index])};
}

}  // namespace quenpix
