// The largest files the decoder tool reads: beyond these no valid file can be.
#pragma once

#include <cstdint>

#include "format/stream_constants.hpp"

namespace quenpix {

// The costliest token of a pixel takes 48 bits, and the side file holds at most three bytes
// per pixel beside its box table.
inline constexpr uint64_t kMaxCompressedFileBytes = kMaxPlaneBytes / 3 * 8;
inline constexpr uint64_t kMaxSideFileBytes = kMaxPlaneBytes + 4096;

}  // namespace quenpix
