// The container: the signature a compressed file starts with, and the size of its data chunks.
#pragma once

#include <array>
#include <cstdint>

namespace quenpix {

// The PNG signature: the file is a PNG container, told apart by IHDR's compression method 1.
inline constexpr std::array<uint8_t, 8> kFileSignature = {0x89, 0x50, 0x4E, 0x47,
                                                          0x0D, 0x0A, 0x1A, 0x0A};
// The stream's bytes per IDAT chunk; only the last chunk holds fewer.
inline constexpr uint32_t kChunkCapacity = 8192;
// IHDR's compression method for this codec's own stream.
inline constexpr uint8_t kCompressionMethod = 1;

}  // namespace quenpix
