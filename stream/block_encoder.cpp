// BlockEncoder: turns the token list into dynamic-Huffman blocks of the image stream.
#include "stream/block_encoder.hpp"

#include <algorithm>

#include "colourbox/side_file.hpp"
#include "encoder/chunk_writer.hpp"
#include "stream/adler32.hpp"
#include "stream/deflate_codes.hpp"
#include "stream/match_finder.hpp"

namespace quenpix {

namespace {
constexpr uint32_t kMaxCodeLength = 15;
constexpr uint32_t kMaxCodeLengthCodeLength = 7;
// A block ends after 65534 or 65535 entries, so that a match never straddles two blocks.
constexpr uint32_t kBlockFillLimit = BlockEncoder::kBlockCapacity - 2;
}  // namespace

BlockEncoder::BlockEncoder(const BlockEncoderInput& input, ChunkWriter& chunks,
                           SideFileBuffer& sideFile, MatchCounters& counters,
                           std::function<void(uint32_t)> notifyProgress)
    : input_(input),
      chunks_(chunks),
      bits_(chunks),
      sideFile_(sideFile),
      counters_(counters),
      notifyProgress_(std::move(notifyProgress)) {
    const ColourBoxTable& boxes = *input_.boxes;
    for (uint32_t b = 0; b < kMaxColourBoxes; ++b) {
        pixelBits_[b] = boxes.PixelBits(b);
        packing_[b] = {{boxes.minimum[0][b], boxes.minimum[1][b], boxes.minimum[2][b]},
                       static_cast<uint8_t>(boxes.width[1][b] + boxes.width[2][b]),
                       boxes.width[2][b]};
    }
}

void BlockEncoder::WriteImageData() {
    chunks_.StartChunk("IDAT");
    streamAdler_ = 1;
    blockEntries_.assign(kBlockCapacity, 0);
    keepAsMatch_.assign(kBlockCapacity, 1);
    if (input_.replaceShortMatches) {
        // A short match takes two entries, so a block holds at most half as many.
        shortMatchRecords_.resize(kBlockCapacity / 2);
        matchPixel_.assign(kBlockCapacity, 0);
    }
    position_ = 0;
    tokenReadIndex_ = 0;
    outputPixel_ = 0;
    const uint64_t totalBytes = input_.raw.size();

    bits_.WriteStreamHeader(input_.compressionLevel);
    notifyProgress_(0);
    bool final = false;
    while (!final) {
        literalLengthEncoder_.Reset();
        distanceEncoder_.Reset();
        shortMatchCount_ = 0;
        final = CollectBlock();
        if (input_.replaceShortMatches) ReplaceShortMatches();
        literalLengthEncoder_.BuildTable(kMaxCodeLength);
        distanceEncoder_.BuildTable(kMaxCodeLength);
        WriteBlockHeader(final);
        WriteBlockData();
        notifyProgress_(static_cast<uint32_t>(uint64_t{position_} * 100 / totalBytes));
    }
    notifyProgress_(100);
    bits_.WriteStreamTrailer(streamAdler_);
    chunks_.EmitChunk();

    blockEntries_ = std::vector<uint16_t>();
    keepAsMatch_ = std::vector<uint8_t>();
    shortMatchRecords_ = std::vector<ShortMatch>();
    matchPixel_ = std::vector<uint32_t>();
}

bool BlockEncoder::CollectBlock() {
    const uint32_t totalBytes = static_cast<uint32_t>(input_.raw.size());
    const uint16_t* tokens = input_.tokens.data();
    blockEntryCount_ = 0;
    const uint32_t adlerStart = position_;
    while (blockEntryCount_ < kBlockFillLimit && position_ < totalBytes) {
        const uint16_t word = tokens[tokenReadIndex_];
        if (word == 0) {
            const uint8_t box = input_.boxIndexPlane[position_ / kBytesPerPixel];
            blockEntries_[blockEntryCount_] = box;
            literalLengthEncoder_.IncrementFrequency(box);
            position_ += kBytesPerPixel;
        } else {
            const uint32_t value = word - kMatchTokenBias;
            const uint32_t plane = value % 3;
            const uint32_t byteLength = value - plane;
            const uint32_t distance = tokens[++tokenReadIndex_];
            const CodeWithExtra length = LengthToCode(value);
            const CodeWithExtra distanceCode = DistanceToCode(distance);
            literalLengthEncoder_.IncrementFrequency(length.symbol);
            distanceEncoder_.IncrementFrequency(distanceCode.symbol);
            if (input_.replaceShortMatches) {
                keepAsMatch_[blockEntryCount_] = 1;
                if (value < kShortMatchLimit) {
                    const uint32_t pixel = position_ / kBytesPerPixel;
                    matchPixel_[blockEntryCount_] = pixel;
                    ShortMatch& match = shortMatchRecords_[shortMatchCount_++];
                    match.entry = blockEntryCount_;
                    match.lengthSymbol = length.symbol;
                    match.distanceSymbol = static_cast<uint8_t>(distanceCode.symbol);
                    match.extraBits =
                        static_cast<uint8_t>(length.extraBits + distanceCode.extraBits);
                    match.pixels = static_cast<uint8_t>(byteLength / kBytesPerPixel);
                    match.plane = static_cast<uint8_t>(plane);
                    std::copy_n(input_.boxIndexPlane.data() + pixel, match.pixels,
                                match.boxes.begin());
                }
            }
            counters_.ForPlane(plane) += 1;
            position_ += byteLength;
            blockEntries_[blockEntryCount_] = static_cast<uint16_t>(word);
            blockEntries_[++blockEntryCount_] = static_cast<uint16_t>(distance);
        }
        ++blockEntryCount_;
        ++tokenReadIndex_;
    }
    // Every position is checksummed once, in order, however it is coded.
    streamAdler_ =
        UpdateAdler32(streamAdler_, input_.raw.subspan(adlerStart, position_ - adlerStart));
    literalLengthEncoder_.IncrementFrequency(kEndOfBlock);
    return position_ >= totalBytes;
}

void BlockEncoder::WriteBlockHeader(bool final) {
    const auto& literalLengths = literalLengthEncoder_.CodeLengths();
    const auto& distanceLengths = distanceEncoder_.CodeLengths();
    uint32_t n = PngHuffmanEncoder::kSymbolCount;
    while (n > 0 && literalLengths[n - 1] == 0)
        --n;
    uint32_t m = PngHuffmanEncoder::kSymbolCount;
    while (m > 0 && distanceLengths[m - 1] == 0)
        --m;
    // A block without matches still sends one distance code length, 0.
    m = std::max(m, 1u);
    const std::span literal(literalLengths.data(), n);
    const std::span distance(distanceLengths.data(), m);

    codeLengthEncoder_.Reset();
    auto count = [this](uint32_t, uint32_t symbol, uint32_t, uint32_t) {
        codeLengthEncoder_.IncrementFrequency(symbol);
    };
    ScanCodeLengths(count, literal);
    ScanCodeLengths(count, distance);
    codeLengthEncoder_.BuildTable(kMaxCodeLengthCodeLength);

    const auto& codeLengthLengths = codeLengthEncoder_.CodeLengths();
    uint32_t c = kCodeLengthSymbolCount;
    while (c > 0 && codeLengthLengths[kCodeLengthOrder[c - 1]] == 0)
        --c;

    bits_.WriteBits(final ? 1 : 0, 1);
    bits_.WriteBits(2, 2);
    bits_.WriteBits(n - 257, 5);
    bits_.WriteBits(m - 1, 5);
    bits_.WriteBits(c - 4, 4);
    for (uint32_t i = 0; i < c; ++i)
        bits_.WriteBits(codeLengthLengths[kCodeLengthOrder[i]], 3);

    auto write = [this](uint32_t, uint32_t symbol, uint32_t extraBits, uint32_t extraValue) {
        uint16_t code = 0;
        uint8_t length = 0;
        codeLengthEncoder_.Encode(symbol, code, length);
        bits_.WriteBits(code, length);
        if (extraBits != 0) bits_.WriteBits(extraValue, extraBits);
    };
    ScanCodeLengths(write, literal);
    ScanCodeLengths(write, distance);
}

void BlockEncoder::WriteBlockData() {
    // The stream's and the side file's write positions live in local copies for the loop: the
    // bits being gathered then stay in registers from one pixel to the next.
    BitWriter bits = bits_;
    SideFileBuffer::FieldPacker side(sideFile_);
    const auto& literalCodes = literalLengthEncoder_.Codes();
    const auto& literalLengths = literalLengthEncoder_.CodeLengths();
    const uint8_t* residual = input_.residual.data() + size_t{3} * outputPixel_;
    auto write_pixel = [&](uint32_t box) {
        bits.WriteBits(literalCodes[box], literalLengths[box]);
        // The three offsets go out as one field: channel 0 in the top bits.
        const BoxPacking& packing = packing_[box];
        const uint32_t field =
            uint32_t{static_cast<uint8_t>(residual[0] - packing.minimum[0])} << packing.shift0 |
            uint32_t{static_cast<uint8_t>(residual[1] - packing.minimum[1])} << packing.shift1 |
            static_cast<uint8_t>(residual[2] - packing.minimum[2]);
        side.Put(field, pixelBits_[box]);
        residual += 3;
    };
    for (uint32_t i = 0; i < blockEntryCount_; ++i) {
        const uint32_t entry = blockEntries_[i];
        if (entry < kEndOfBlock) {
            write_pixel(entry);
            continue;
        }
        const uint32_t value = entry - kMatchTokenBias;
        if (keepAsMatch_[i] != 0) {
            const CodeWithExtra length = LengthToCode(value);
            uint16_t code = 0;
            uint8_t codeBits = 0;
            literalLengthEncoder_.Encode(length.symbol, code, codeBits);
            bits.WriteBits(code, codeBits);
            if (length.extraBits != 0) bits.WriteBits(length.extraValue, length.extraBits);
            const CodeWithExtra distance = DistanceToCode(blockEntries_[++i]);
            distanceEncoder_.Encode(distance.symbol, code, codeBits);
            bits.WriteBits(code, codeBits);
            if (distance.extraBits != 0) bits.WriteBits(distance.extraValue, distance.extraBits);
            residual += value - value % kBytesPerPixel;  // the byte length; the plane dropped
        } else {
            const uint32_t first = matchPixel_[i];
            const uint32_t pixels = value / kBytesPerPixel;
            for (uint32_t k = 0; k < pixels; ++k)
                write_pixel(input_.boxIndexPlane[first + k]);
            ++i;
        }
    }
    uint16_t code = 0;
    uint8_t length = 0;
    literalLengthEncoder_.Encode(kEndOfBlock, code, length);
    bits.WriteBits(code, length);
    bits_ = bits;
    side.Commit();
    outputPixel_ = static_cast<uint32_t>((residual - input_.residual.data()) / 3);
}

}  // namespace quenpix
