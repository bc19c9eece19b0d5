// Test planes for the match search: a raw plane with its zero tail and both difference planes.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/match_finder.hpp"

namespace quenpix::testing {

// A raw plane of RGB pixels with the zero tail, and its two difference planes.
struct Planes {
    explicit Planes(const std::vector<uint8_t>& pixels, uint32_t rowBytes)
        : raw(pixels), rowBytes(rowBytes) {
        total = static_cast<uint32_t>(pixels.size());
        raw.resize(total + kPlaneTail, 0);
        vertical.assign(total + kPlaneTail, 0);
        horizontal.assign(total + kPlaneTail, 0);
        for (uint32_t k = 0; k < total; ++k) {
            vertical[k] = static_cast<uint8_t>(k < rowBytes ? raw[k] : raw[k] - raw[k - rowBytes]);
            horizontal[k] = static_cast<uint8_t>(k < 3 ? raw[k] : raw[k] - raw[k - 3]);
        }
    }
    SearchPlanes Search(bool differences) const {
        return {raw.data(), differences ? vertical.data() : nullptr,
                differences ? horizontal.data() : nullptr, total};
    }
    std::vector<uint8_t> raw, vertical, horizontal;
    uint32_t rowBytes;
    uint32_t total;
};

inline std::vector<uint8_t> Noise(uint32_t pixels, uint32_t seed) {
    std::vector<uint8_t> bytes(3 * pixels);
    for (auto& b : bytes) {
        seed = seed * 1664525 + 1013904223;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

}  // namespace quenpix::testing
