// The residual plane: context-model or median residuals of the raw plane, whichever costs less.
#pragma once

#include <cstdint>
#include <span>

namespace quenpix {

// Fills `residual` (same size as the raw plane's image bytes) with the residuals of `raw`
// (rows x rowBytes bytes, 3 per pixel, top row first). Returns true when the context-model
// residuals were kept, false when the median residuals won (the file then carries ncPr).
// Images one pixel wide always take the median residuals: there the context model's
// above-right neighbour is the sample itself, which no decoder could know.
[[nodiscard]] bool BuildResidualPlane(std::span<const uint8_t> raw, uint32_t rowBytes,
                                      uint32_t rows, std::span<uint8_t> residual);

// Context-model residuals alone (the three channel models start fresh).
void BuildContextResiduals(std::span<const uint8_t> raw, uint32_t rowBytes, uint32_t rows,
                           std::span<uint8_t> residual);
// Median-edge-detector residuals alone.
void BuildMedResiduals(std::span<const uint8_t> raw, uint32_t rowBytes, uint32_t rows,
                       std::span<uint8_t> residual);

}  // namespace quenpix
