// The image stream's units and bounds, as the encoder writes them and the decoder checks them.
#pragma once

#include <cstdint>

namespace quenpix {

// Positions and match lengths count bytes of a plane, three to a pixel; distances count pixels.
inline constexpr uint32_t kBytesPerPixel = 3;
inline constexpr uint32_t kWindowPixels = 32768;
inline constexpr uint32_t kWindowBytes = kWindowPixels * kBytesPerPixel;  // 98304
inline constexpr uint32_t kMinMatchBytes = 3;
inline constexpr uint32_t kMaxMatchBytes = 258;
// Difference-plane matches stop at 255 so that byte length + plane never exceeds 258.
inline constexpr uint32_t kMaxDifferenceMatchBytes = 255;
// Positions, token counts and plane sizes are 32-bit: a plane may hold at most this many image
// bytes, which keeps room for its tail and a comparison's reach past the last position.
inline constexpr uint64_t kMaxPlaneBytes = 0xFFFFFFFFull - 1024;

}  // namespace quenpix
