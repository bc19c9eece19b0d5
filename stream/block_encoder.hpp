// BlockEncoder: turns the token list into dynamic-Huffman blocks of the image stream.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "colourbox/colour_boxes.hpp"
#include "colourbox/side_file.hpp"
#include "format/match_counters.hpp"
#include "stream/bit_writer.hpp"
#include "stream/huffman_encoder.hpp"

namespace quenpix {

class ChunkWriter;

// What the earlier stages left for the stream.
struct BlockEncoderInput {
    std::span<const uint16_t> tokens;        // the words in use
    std::span<const uint8_t> boxIndexPlane;  // one box number per pixel
    const ColourBoxTable* boxes = nullptr;
    std::span<const uint8_t> residual;  // 3 bytes per pixel
    std::span<const uint8_t> raw;       // the image bytes, for the checksum
    bool replaceShortMatches = true;
    int32_t compressionLevel = 2;
    // Threads that plan blocks (gather them and build their codes) ahead of the writing; the
    // stream does not depend on it. The writing and the progress stay on the calling thread.
    uint32_t threads = 1;
};

class BlockEncoder final {
  public:
    static constexpr uint32_t kBlockCapacity = 65536;

    BlockEncoder(const BlockEncoderInput& input, ChunkWriter& chunks, SideFileBuffer& sideFile,
                 MatchCounters& counters, std::function<void(uint32_t)> notifyProgress);

    // The whole stream: header, blocks, checksum; the last IDAT chunk is emitted.
    void WriteImageData();

  private:
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

    // Where a block starts: its first token and the byte position of that token.
    struct BlockStart {
        uint32_t token = 0;
        uint32_t position = 0;
    };

    // One block gathered, its short matches decided and its codes built, ready to be written.
    // A plan depends on nothing but the tokens and the boxes, so later blocks can be planned
    // while earlier ones are written; a planning thread also writes the block's bits and
    // side-file offsets into the plan, and the writer appends them to the stream in order.
    struct BlockPlan {
        std::vector<uint16_t> entries;
        std::vector<uint8_t> keepAsMatch;
        std::vector<uint32_t> matchPixel;
        std::vector<ShortMatch> shortMatches;  // the block's short matches, in order
        uint32_t entryCount = 0;
        uint32_t shortMatchCount = 0;
        BlockStart start;
        uint32_t end = 0;  // the byte position after the block
        bool final = false;
        PngHuffmanEncoder literalLength;
        PngHuffmanEncoder distance;
        MatchCounters counters;  // the matches it carries as matches
        // Written ahead: the block's stream bits (whole words, then the pending bits) and its
        // side-file offsets.
        StreamWords words;
        uint32_t pendingBits = 0;
        uint32_t pendingCount = 0;
        SideFileBuffer offsets;
    };

    // The starts of the blocks, and after them the end of the tokens: a block ends after 65534
    // or 65535 entries.
    [[nodiscard]] std::vector<BlockStart> BlockStarts() const;
    void AllocatePlan(BlockPlan& plan) const;
    void PlanBlock(BlockPlan& plan, BlockStart start, BlockStart next) const;
    void CollectBlock(BlockPlan& plan) const;
    void ReplaceShortMatches(BlockPlan& plan) const;
    // Plans and writes blocks on threads of their own, a few ahead of the one being appended.
    void PlanAheadAndWrite(const std::vector<BlockStart>& starts);
    void WriteAhead(BlockPlan& plan) const;
    // Writes the block (or appends what was written ahead), then counts and reports it.
    void WriteBlock(const BlockPlan& plan);
    void AppendBlock(const BlockPlan& plan);
    void Account(const BlockPlan& plan);
    template <typename Bits>
    void WriteBlockHeader(const BlockPlan& plan, Bits& bits,
                          PngHuffmanEncoder& codeLengthEncoder) const;
    template <typename Bits>
    void WriteBlockData(const BlockPlan& plan, Bits& bits, SideFileBuffer& offsets) const;

    BlockEncoderInput input_;
    ChunkWriter& chunks_;
    BitWriter bits_;
    SideFileBuffer& sideFile_;
    MatchCounters& counters_;
    std::function<void(uint32_t)> notifyProgress_;

    PngHuffmanEncoder codeLengthEncoder_;

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
