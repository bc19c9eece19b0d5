// ColourTransform: the channel subtractions of the cmOd chunk, numbered as both sides read them.
#pragma once

#include <array>
#include <cstdint>

namespace quenpix {

// Channel numbers count the bytes of a stored pixel: 0 blue, 1 green, 2 red.
struct ColourTransform {
    // first target, first source, second target, second source
    std::array<uint8_t, 4> slots{};

    // A slot whose target equals its source holds no subtraction.
    [[nodiscard]] bool HasFirst() const noexcept { return slots[0] != slots[1]; }
    [[nodiscard]] bool HasSecond() const noexcept { return slots[2] != slots[3]; }
    // The cmOd byte: four 2-bit channel numbers, first target in the top bits.
    [[nodiscard]] uint8_t Packed() const noexcept {
        return static_cast<uint8_t>(slots[0] << 6 | slots[1] << 4 | slots[2] << 2 | slots[3]);
    }
    [[nodiscard]] static ColourTransform FromPacked(uint8_t byte) noexcept {
        return {{static_cast<uint8_t>(byte >> 6 & 3), static_cast<uint8_t>(byte >> 4 & 3),
                 static_cast<uint8_t>(byte >> 2 & 3), static_cast<uint8_t>(byte & 3)}};
    }
};

}  // namespace quenpix
