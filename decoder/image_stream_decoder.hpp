// ImageStreamDecoder: the compressed image stream (header, dynamic blocks, checksum) to pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "decoder/bit_reader.hpp"
#include "decoder/huffman_decoder.hpp"
#include "format/match_counters.hpp"

namespace quenpix {

class RawPlaneBuilder;
class SideFileReader;

class ImageStreamDecoder final {
  public:
    // `progress` receives the share of pixels decoded, in percent, after every block.
    ImageStreamDecoder(std::span<const uint8_t> stream, SideFileReader& sideFile,
                       RawPlaneBuilder& plane, std::function<void(uint32_t)> progress);

    // Decodes the whole stream into the plane and checks its checksum and its end; throws
    // EDecodeError on any fault.
    void Decode();

    // The matches the stream carried, by plane, and its number of blocks.
    [[nodiscard]] const MatchCounters& Matches() const noexcept { return matches_; }
    [[nodiscard]] uint32_t BlockCount() const noexcept { return blockCount_; }

  private:
    void ReadStreamHeader();
    // Reads a block header and builds the block's codes; returns the final-block flag.
    bool ReadBlockHeader();
    void ReadCodeLengths(std::span<uint8_t> lengths);
    void DecodeBlockData();
    void ReadStreamTrailer();

    BitReader bits_;
    SideFileReader& sideFile_;
    RawPlaneBuilder& plane_;
    std::function<void(uint32_t)> progress_;
    HuffmanDecoder codeLengthCode_;
    HuffmanDecoder literalLengthCode_;
    HuffmanDecoder distanceCode_;
    MatchCounters matches_;
    uint32_t blockCount_ = 0;
};

}  // namespace quenpix
