// BlockEncoder: turns the token list into dynamic-Huffman blocks of the image stream.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "colourbox/colour_boxes.hpp"
#include "stream/bit_writer.hpp"
#include "stream/huffman_encoder.hpp"
#include "stream/match_counters.hpp"

namespace quenpix {

class ChunkWriter;
class SideFileBuffer;

// What the earlier stages left for the stream.
struct BlockEncoderInput {
    std::span<const uint16_t> tokens;        // the words in use
    std::span<const uint8_t> boxIndexPlane;  // one box number per pixel
    const ColourBoxTable* boxes = nullptr;
    std::span<const uint8_t> residual;  // 3 bytes per pixel
    std::span<const uint8_t> raw;       // the image bytes, for the checksum
    bool replaceShortMatches = true;
    int32_t compressionLevel = 2;
};

class BlockEncoder final {
  public:
    static constexpr uint32_t kBlockCapacity = 65536;

    BlockEncoder(const BlockEncoderInput& input, ChunkWriter& chunks, SideFileBuffer& sideFile,
                 MatchCounters& counters, std::function<void(uint32_t)> notifyProgress);

    // The whole stream: header, blocks, checksum; the last IDAT chunk is emitted.
    void WriteImageData();

  private:
    bool CollectBlock();
    void ReplaceShortMatches();
    void WriteBlockHeader(bool final);
    void WriteBlockData();

    // A short match as the replacement decision sees it.
    struct ShortMatch {
        uint32_t entry;
        uint16_t lengthSymbol;
        uint8_t distanceSymbol;
        uint8_t extraBits;  // of the length and the distance together
        uint8_t pixels;
        uint8_t plane;
        std::array<uint8_t, 3> boxes;
    };

    BlockEncoderInput input_;
    ChunkWriter& chunks_;
    BitWriter bits_;
    SideFileBuffer& sideFile_;
    MatchCounters& counters_;
    std::function<void(uint32_t)> notifyProgress_;

    PngHuffmanEncoder literalLengthEncoder_;
    PngHuffmanEncoder distanceEncoder_;
    PngHuffmanEncoder codeLengthEncoder_;

    std::vector<uint16_t> blockEntries_;
    std::vector<uint8_t> keepAsMatch_;
    std::vector<uint32_t> matchPixel_;
    // The block's short matches, in order.
    std::vector<ShortMatch> shortMatchRecords_;
    // Per box: the side-file bits of one of its pixels.
    std::array<uint32_t, kMaxColourBoxes> pixelBits_{};
    // Per box, how a pixel's three offsets pack into one side-file field: the channel minima
    // and where channels 0 and 1 sit above channel 2.
    struct BoxPacking {
        std::array<uint8_t, 3> minimum;
        uint8_t shift0;  // width1 + width2
        uint8_t shift1;  // width2
    };
    std::array<BoxPacking, kMaxColourBoxes> packing_{};
    uint32_t blockEntryCount_ = 0;
    uint32_t shortMatchCount_ = 0;

    uint32_t position_ = 0;
    uint32_t tokenReadIndex_ = 0;
    uint32_t outputPixel_ = 0;
    uint32_t streamAdler_ = 1;
};

// Calls op(index, symbol, extraBits, extraValue) for the code-length symbols that describe
// `lengths`: nonzero lengths as themselves, runs of zeros as 17 (3..10) or 18 (11..138),
// shorter runs as single zeros. Repeat code 16 is never used.
template <typename Operation>
void ScanCodeLengths(Operation&& op, std::span<const uint8_t> lengths) {
    const uint32_t count = static_cast<uint32_t>(lengths.size());
    uint32_t i = 0;
    while (i < count) {
        if (lengths[i] != 0) {
            op(i, lengths[i], 0u, 0u);
            ++i;
            continue;
        }
        uint32_t run = 1;
        while (i + run < count && lengths[i + run] == 0)
            ++run;
        if (run < 3) {
            for (uint32_t k = 0; k < run; ++k)
                op(i + k, 0u, 0u, 0u);
            i += run;
            continue;
        }
        const uint32_t k = run < 138 ? run : 138;
        if (k <= 10) {
            op(i, 17u, 3u, k - 3);
        } else {
            op(i, 18u, 7u, k - 11);
        }
        i += k;
    }
}

}  // namespace quenpix
