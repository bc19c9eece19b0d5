// Compile-time tables of the context model: gradient codes, their quantisation, the context map.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quenpix::context_tables {

// Neighbour differences run over -255..255; the quantisation tables are indexed by d + kBias.
inline constexpr int32_t kBias = 256;
inline constexpr size_t kDifferences = 512;
// Combined codes q = 81 g1 + 9 g2 + g3 with every g in 0..8.
inline constexpr size_t kCombinedCodes = 729;
// Context numbers 0..364: code 0 alone, the other 728 codes in mirrored pairs.
inline constexpr size_t kContextNumbers = 365;

// Negative differences get odd codes, positive ones even codes.
constexpr int32_t Code(int32_t d) noexcept {
    if (d <= -21) return 7;
    if (d <= -7) return 5;
    if (d <= -3) return 3;
    if (d <= -1) return 1;
    if (d == 0) return 0;
    if (d <= 2) return 2;
    if (d <= 6) return 4;
    if (d <= 20) return 6;
    return 8;
}

// The code of the same gradient with its sign flipped.
constexpr int32_t MirrorCode(int32_t code) noexcept {
    if (code == 0) return 0;
    return (code & 1) != 0 ? code + 1 : code - 1;
}

constexpr std::array<int32_t, kDifferences> Quantisation(int32_t weight) noexcept {
    std::array<int32_t, kDifferences> table{};
    for (size_t i = 0; i < table.size(); ++i) {
        table[i] = weight * Code(static_cast<int32_t>(i) - kBias);
    }
    return table;
}

// Pairs each combined code with its mirror under one context number, the sign telling them
// apart. Numbers are handed out in increasing q, which fixes every context's index.
constexpr std::array<int32_t, kCombinedCodes> ContextMap() noexcept {
    std::array<int32_t, kCombinedCodes> map{};
    int32_t k = 0;
    for (int32_t q = 1; q < static_cast<int32_t>(kCombinedCodes); ++q) {
        if (map[static_cast<size_t>(q)] != 0) continue;
        const int32_t q1 = q / 81;
        const int32_t q2 = (q / 9) % 9;
        const int32_t q3 = q % 9;
        const int32_t leading = q1 != 0 ? q1 : (q2 != 0 ? q2 : q3);
        const int32_t sign = (leading & 1) != 0 ? -1 : 1;
        ++k;
        map[static_cast<size_t>(q)] = sign * k;
        const int32_t mirror = 81 * MirrorCode(q1) + 9 * MirrorCode(q2) + MirrorCode(q3);
        map[static_cast<size_t>(mirror)] = -sign * k;
    }
    return map;
}

// Per context number, its combined code with the positive sign and the one with the negative
// sign (both 0 for context 0, whose only code is 0).
struct ContextCodes {
    int16_t positive;
    int16_t negative;
};

constexpr std::array<ContextCodes, kContextNumbers> CodesOfContexts(
    const std::array<int32_t, kCombinedCodes>& map) noexcept {
    std::array<ContextCodes, kContextNumbers> codes{};
    for (size_t q = 0; q < kCombinedCodes; ++q) {
        const int32_t e = map[q];
        if (e >= 0) {
            codes[static_cast<size_t>(e)].positive = static_cast<int16_t>(q);
        } else {
            codes[static_cast<size_t>(-e)].negative = static_cast<int16_t>(q);
        }
    }
    return codes;
}

inline constexpr std::array<int32_t, kDifferences> kQuantise81 = Quantisation(81);
inline constexpr std::array<int32_t, kDifferences> kQuantise9 = Quantisation(9);
inline constexpr std::array<int32_t, kDifferences> kQuantise1 = Quantisation(1);
inline constexpr std::array<int32_t, kCombinedCodes> kContextMap = ContextMap();
inline constexpr std::array<ContextCodes, kContextNumbers> kCodesOfContext =
    CodesOfContexts(kContextMap);

}  // namespace quenpix::context_tables
