// ImageStreamDecoder: the compressed image stream (header, dynamic blocks, checksum) to tokens.
#pragma once

#include <cstdint>
#include <span>

#include "decoder/bit_reader.hpp"
#include "decoder/huffman_decoder.hpp"
#include "decoder/side_file_reader.hpp"
#include "decoder/token_chunk.hpp"
#include "format/match_counters.hpp"

namespace quenpix {

// Reads the stream and the side file's offsets a stretch at a time, checking everything that
// does not depend on pixel values: codes, symbols, the side file's length, and that every
// symbol lies inside an image of `pixelCount` pixels. Pixels are rebuilt elsewhere from the
// tokens (RawPlaneBuilder), so the two can run on different threads.
class ImageStreamDecoder final {
  public:
    // The stream is the bytes of `pieces`, one after another.
    ImageStreamDecoder(std::span<const std::span<const uint8_t>> pieces, SideFileReader& sideFile,
                       uint64_t pixelCount);

    // Decodes the next stretch of the stream into `chunk`, replacing its tokens. A fault ends
    // the chunk: it is recorded there, after the tokens of the symbols before it, and the
    // chunk is the last. The chunk after the final block's end (and the trailer) is the last too.
    void Fill(TokenChunk& chunk) noexcept;

    // Once the last chunk came without a fault: the checksum the stream carries.
    [[nodiscard]] uint32_t StoredChecksum() const noexcept { return storedChecksum_; }
    // Then, after the checksum has been compared: throws EDecodeError when data follow the
    // stream or the side file holds more than its offsets.
    void CheckEnd() const;

    // The matches the stream carried, by plane, and its number of blocks.
    [[nodiscard]] const MatchCounters& Matches() const noexcept { return matches_; }
    [[nodiscard]] uint32_t BlockCount() const noexcept { return blockCount_; }

  private:
    enum class State { kStart, kBetweenBlocks, kInBlock, kDone };

    void ReadStreamHeader();
    // Reads a block header and builds the block's codes; returns the final-block flag.
    bool ReadBlockHeader();
    void ReadCodeLengths(std::span<uint8_t> lengths);
    // Decodes symbols into tokens from `out` on until the block ends (then true) or `end` is
    // reached; `out` follows every token written, also when a fault is thrown.
    bool DecodeBlockData(uint32_t*& out, const uint32_t* end);
    // Box-coded pixels, `count` at most, as long as they come one after another, from readers
    // that may make `count` refills and reads without bounds tests. Returns the symbol that
    // ended the run, or kNoSymbol after `count` pixels; `next` follows every token written,
    // also when a fault is thrown. Most of the stream goes through this loop, whose state is
    // small enough to stay in registers.
    static constexpr uint32_t kNoSymbol = UINT32_MAX;
    uint32_t DecodePixelRun(BitReader::Unchecked& bits, SideFileReader::Cursor::Unchecked& offsets,
                            uint32_t*& next, size_t count) const;
    void ReadStreamTrailer();

    BitReader bits_;
    SideFileReader& sideFile_;
    uint64_t pixelCount_;
    uint64_t pixelsDone_ = 0;
    uint64_t pixelLimit_ = 0;  // the chunk being filled ends here
    State state_ = State::kStart;
    bool finalBlockRead_ = false;
    uint32_t storedChecksum_ = 0;
    HuffmanDecoder codeLengthCode_;
    HuffmanDecoder literalLengthCode_;
    HuffmanDecoder distanceCode_;
    MatchCounters matches_;
    uint32_t blockCount_ = 0;
};

}  // namespace quenpix
