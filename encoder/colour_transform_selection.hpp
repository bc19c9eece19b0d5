// Choosing the colour transform: up to two channel subtractions, chosen by the bits they save.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "format/colour_transform.hpp"

namespace quenpix {

class BitmapImage;

// Entropy of a 256-entry histogram in whole bits (low 32 bits of the truncated value).
[[nodiscard]] uint32_t HistogramBits(std::span<const uint32_t, 256> histogram) noexcept;

// Cost in whole bits of each channel's horizontal differences ([u][u]) and of the difference
// of two channels ([u][v]); symmetric.
using EntropyMatrix = std::array<std::array<uint32_t, 3>, 3>;

// Copies the image into `scratch` (Height x 3 x Width bytes) top row first, in stored byte
// order, and replaces each byte by its difference to the same channel of the previous pixel.
void FillDifferencedScratch(const BitmapImage& image, std::span<uint8_t> scratch,
                            uint32_t threads = 1);
// The matrix of a scratch plane that already holds horizontal differences, 3 bytes per pixel.
[[nodiscard]] EntropyMatrix ComputeEntropyMatrix(std::span<const uint8_t> differencedScratch,
                                                 uint32_t threads = 1);
// The search for the one or two subtractions that save the most bits, in the slots as found.
[[nodiscard]] ColourTransform ChooseColourTransform(const EntropyMatrix& matrix) noexcept;
// Exchanges the slots when the first subtraction would change the second one's source.
[[nodiscard]] ColourTransform OrderSubtractions(ColourTransform transform) noexcept;
// Applies the slots that hold a subtraction to every pixel, first slot over the whole image
// before the second; row padding is left alone.
void ApplyColourTransform(BitmapImage& image, const ColourTransform& transform,
                          uint32_t threads = 1);

// Chooses the transform from the 24-bit image's horizontal differences and applies it to the
// image's pixel bytes in place. `scratch` must hold at least Height x 3 x Width bytes. The
// passes over the image may share the rows among `threads` threads; the result is the same.
[[nodiscard]] ColourTransform SelectColourTransform(BitmapImage& image, std::span<uint8_t> scratch,
                                                    uint32_t threads = 1);

}  // namespace quenpix
