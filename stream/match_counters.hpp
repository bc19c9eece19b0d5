// MatchCounters: matches carried as matches in the image stream, by the plane they come from.
#pragma once

#include <cstdint>

namespace quenpix {

struct MatchCounters {
    uint32_t raw = 0;
    uint32_t vertical = 0;
    uint32_t horizontal = 0;

    [[nodiscard]] uint32_t& ForPlane(uint32_t plane) noexcept {
        return plane == 0 ? raw : plane == 1 ? vertical : horizontal;
    }
    [[nodiscard]] uint32_t Total() const noexcept { return raw + vertical + horizontal; }
};

}  // namespace quenpix
