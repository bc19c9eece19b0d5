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
    ColourTransform transform{};  // all slots empty without cmOd
    bool medResiduals = false;    // ncPr present
    // The data of the IDAT chunks in order, where they lie in the file: together, the image
    // stream.
    std::vector<std::span<const uint8_t>> imageStream;
    uint32_t imageChunkCount = 0;  // the IDAT chunks, empty ones included

    [[nodiscard]] uint64_t ImageStreamBytes() const noexcept {
        uint64_t bytes = 0;
        for (const auto& piece : imageStream)
            bytes += piece.size();
        return bytes;
    }
};

// Checks the signature, every chunk's framing and CRC, the IHDR fields, the chunk order
// (IHDR, then cmOd and ncPr at most once each, the IDAT chunks together, IEND last) and
// the private chunks' contents. Throws EDecodeError naming the first fault found. The image
// stream's pieces point into `file`.
[[nodiscard]] ContainerContents ReadContainer(std::span<const uint8_t> file);

}  // namespace quenpix
