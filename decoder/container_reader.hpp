// ReadContainer: the signature and chunks of a compressed file, checked and taken apart.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "format/colour_transform.hpp"

namespace quenpix {

struct ContainerContents {
    uint32_t width = 0;
    uint32_t height = 0;
    ColourTransform transform{};       // all slots empty without cmOd
    bool medResiduals = false;         // ncPr present
    std::vector<uint8_t> imageStream;  // the IDAT data, concatenated
    uint32_t imageChunkCount = 0;      // the IDAT chunks they came in
};

// Checks the signature, every chunk's framing and CRC, the IHDR fields, the chunk order
// (IHDR, then cmOd and ncPr at most once each, the IDAT chunks together, IEND last) and
// the private chunks' contents. Throws EDecodeError naming the first fault found.
[[nodiscard]] ContainerContents ReadContainer(std::span<const uint8_t> file);

}  // namespace quenpix
