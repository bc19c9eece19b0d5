// MatchCounters: matches carried as matches in the image stream, by the plane they come from.
#pragma once

#include <array>
#include <cstdint>

namespace quenpix {

struct MatchCounters {
    // Indexed by plane: 0 raw, 1 vertical differences, 2 horizontal differences.
    std::array<uint32_t, 3> byPlane{};

    [[nodiscard]] uint32_t& ForPlane(uint32_t plane) noexcept { return byPlane[plane]; }
    [[nodiscard]] uint32_t Raw() const noexcept { return byPlane[0]; }
    [[nodiscard]] uint32_t Vertical() const noexcept { return byPlane[1]; }
    [[nodiscard]] uint32_t Horizontal() const noexcept { return byPlane[2]; }
    [[nodiscard]] uint32_t Total() const noexcept { return byPlane[0] + byPlane[1] + byPlane[2]; }
};

}  // namespace quenpix
