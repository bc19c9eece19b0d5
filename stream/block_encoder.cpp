// BlockEncoder: turns the token list into dynamic-Huffman blocks of the image stream.
#include "stream/block_encoder.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "colourbox/side_file.hpp"
#include "encoder/chunk_writer.hpp"
#include "format/adler32.hpp"
#include "format/deflate_codes.hpp"
#include "parallel/task_group.hpp"
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
    const std::vector<BlockStart> starts = BlockStarts();
    bits_.WriteStreamHeader(input_.compressionLevel);
    notifyProgress_(0);
    if (input_.threads > 1 && starts.size() > 2) {
        PlanAheadAndWrite(starts);
    } else {
        BlockPlan plan;
        AllocatePlan(plan);
        for (size_t b = 0; b + 1 < starts.size(); ++b) {
            PlanBlock(plan, starts[b], starts[b + 1]);
            WriteBlock(plan);
        }
    }
    notifyProgress_(100);
    bits_.WriteStreamTrailer(streamAdler_);
    chunks_.EmitChunk();
}

std::vector<BlockEncoder::BlockStart> BlockEncoder::BlockStarts() const {
    const uint32_t totalBytes = static_cast<uint32_t>(input_.raw.size());
    std::vector<BlockStart> starts;
    BlockStart at;
    do {
        starts.push_back(at);
        // A literal pixel takes one entry, a match two.
        for (uint32_t entries = 0; entries < kBlockFillLimit && at.position < totalBytes;) {
            const uint16_t word = input_.tokens[at.token];
            at.position += TokenBytes(word);
            const uint32_t words = word == 0 ? 1 : 2;
            at.token += words;
            entries += words;
        }
    } while (at.position < totalBytes);
    starts.push_back(at);
    return starts;
}

void BlockEncoder::AllocatePlan(BlockPlan& plan) const {
    plan.entries.assign(kBlockCapacity, 0);
    plan.keepAsMatch.assign(kBlockCapacity, 1);
    if (input_.replaceShortMatches) {
        // A short match takes two entries, so a block holds at most half as many.
        plan.shortMatches.resize(kBlockCapacity / 2);
        plan.matchPixel.assign(kBlockCapacity, 0);
    }
}

void BlockEncoder::PlanBlock(BlockPlan& plan, BlockStart start, BlockStart next) const {
    plan.start = start;
    plan.end = next.position;
    plan.final = next.position >= input_.raw.size();
    plan.literalLength.Reset();
    plan.distance.Reset();
    plan.counters = {};
    plan.shortMatchCount = 0;
    CollectBlock(plan);
    if (input_.replaceShortMatches) ReplaceShortMatches(plan);
    plan.literalLength.BuildTable(kMaxCodeLength);
    plan.distance.BuildTable(kMaxCodeLength);
}

void BlockEncoder::PlanAheadAndWrite(const std::vector<BlockStart>& starts) {
    const size_t blocks = starts.size() - 1;
    const size_t planners = std::min<size_t>(input_.threads, blocks);
    // Planned blocks wait in a ring until they are written, in order; a planner waits while the
    // ring is full, so the memory stays a few blocks' worth.
    std::vector<BlockPlan> ring(planners + 1);
    std::vector<size_t> plannedBlock(ring.size(), blocks);  // which block a slot holds, if ready
    std::mutex mutex;
    std::condition_variable_any changed;
    size_t nextToPlan = 0;
    size_t written = 0;

    TaskGroup group;
    for (size_t p = 0; p < planners; ++p) {
        group.Run([&](const std::stop_token& stop) {
            for (;;) {
                size_t b = 0;
                {
                    std::unique_lock lock(mutex);
                    if (!changed.wait(lock, stop,
                                      [&] {
                                          return nextToPlan == blocks ||
                                                 nextToPlan < written + ring.size();
                                      }) ||
                        nextToPlan == blocks)
                        return;
                    b = nextToPlan++;
                }
                BlockPlan& plan = ring[b % ring.size()];
                if (plan.entries.empty()) AllocatePlan(plan);
                PlanBlock(plan, starts[b], starts[b + 1]);
                WriteAhead(plan);
                {
                    const std::lock_guard lock(mutex);
                    plannedBlock[b % ring.size()] = b;
                }
                changed.notify_all();
            }
        });
    }
    for (size_t b = 0; b < blocks; ++b) {
        {
            std::unique_lock lock(mutex);
            // A planner that failed stops the group; Wait() then raises its failure.
            if (!changed.wait(lock, group.StopToken(),
                              [&] { return plannedBlock[b % ring.size()] == b; }))
                break;
        }
        AppendBlock(ring[b % ring.size()]);
        {
            const std::lock_guard lock(mutex);
            plannedBlock[b % ring.size()] = blocks;
            ++written;
        }
        changed.notify_all();
    }
    group.Wait();
}

void BlockEncoder::CollectBlock(BlockPlan& plan) const {
    const uint16_t* tokens = input_.tokens.data();
    uint32_t position = plan.start.position;
    uint32_t count = 0;
    for (uint32_t t = plan.start.token; position < plan.end; ++t) {
        const uint16_t word = tokens[t];
        if (word == 0) {
            const uint8_t box = input_.boxIndexPlane[position / kBytesPerPixel];
            plan.entries[count] = box;
            plan.literalLength.IncrementFrequency(box);
            position += kBytesPerPixel;
        } else {
            const uint32_t value = word - kMatchTokenBias;
            const uint32_t plane = value % 3;
            const uint32_t byteLength = value - plane;
            const uint32_t distance = tokens[++t];
            const CodeWithExtra length = LengthToCode(value);
            const CodeWithExtra distanceCode = DistanceToCode(distance);
            plan.literalLength.IncrementFrequency(length.symbol);
            plan.distance.IncrementFrequency(distanceCode.symbol);
            if (input_.replaceShortMatches) {
                plan.keepAsMatch[count] = 1;
                if (value < kShortMatchLimit) {
                    const uint32_t pixel = position / kBytesPerPixel;
                    plan.matchPixel[count] = pixel;
                    ShortMatch& match = plan.shortMatches[plan.shortMatchCount++];
                    match.entry = count;
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
            plan.counters.ForPlane(plane) += 1;
            position += byteLength;
            plan.entries[count] = static_cast<uint16_t>(word);
            plan.entries[++count] = static_cast<uint16_t>(distance);
        }
        ++count;
    }
    plan.entryCount = count;
    plan.literalLength.IncrementFrequency(kEndOfBlock);
}

void BlockEncoder::WriteBlock(const BlockPlan& plan) {
    WriteBlockHeader(plan, bits_, codeLengthEncoder_);
    WriteBlockData(plan, bits_, sideFile_);
    Account(plan);
}

void BlockEncoder::WriteAhead(BlockPlan& plan) const {
    plan.words.words.clear();
    BasicBitWriter<StreamWords> bits(plan.words);
    PngHuffmanEncoder codeLengthEncoder;
    WriteBlockHeader(plan, bits, codeLengthEncoder);
    // At most three pixels of offsets per pair of entries, each at most 24 bits.
    plan.offsets.StartPart(uint64_t{plan.entryCount} * 3 / 2 * 24 + 24);
    WriteBlockData(plan, bits, plan.offsets);
    plan.pendingBits = bits.PendingBits();
    plan.pendingCount = bits.PendingCount();
}

void BlockEncoder::AppendBlock(const BlockPlan& plan) {
    bits_.AppendBits(plan.words.words, plan.pendingBits, plan.pendingCount);
    sideFile_.AppendPart(plan.offsets);
    Account(plan);
}

void BlockEncoder::Account(const BlockPlan& plan) {
    // Every position is checksummed once, in order, however it is coded.
    streamAdler_ = UpdateAdler32(
        streamAdler_, input_.raw.subspan(plan.start.position, plan.end - plan.start.position));
    for (uint32_t plane = kRawPlane; plane <= kHorizontalPlane; ++plane)
        counters_.ForPlane(plane) += plan.counters.byPlane[plane];
    notifyProgress_(static_cast<uint32_t>(uint64_t{plan.end} * 100 / input_.raw.size()));
}

template <typename Bits>
void BlockEncoder::WriteBlockHeader(const BlockPlan& plan, Bits& bits,
                                    PngHuffmanEncoder& codeLengthEncoder) const {
    const auto& literalLengths = plan.literalLength.CodeLengths();
    const auto& distanceLengths = plan.distance.CodeLengths();
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

    codeLengthEncoder.Reset();
    auto count = [&codeLengthEncoder](uint32_t, uint32_t symbol, uint32_t, uint32_t) {
        codeLengthEncoder.IncrementFrequency(symbol);
    };
    ScanCodeLengths(count, literal);
    ScanCodeLengths(count, distance);
    codeLengthEncoder.BuildTable(kMaxCodeLengthCodeLength);

    const auto& codeLengthLengths = codeLengthEncoder.CodeLengths();
    uint32_t c = kCodeLengthSymbolCount;
    while (c > 0 && codeLengthLengths[kCodeLengthOrder[c - 1]] == 0)
        --c;

    bits.WriteBits(plan.final ? 1 : 0, 1);
    bits.WriteBits(2, 2);
    bits.WriteBits(n - 257, 5);
    bits.WriteBits(m - 1, 5);
    bits.WriteBits(c - 4, 4);
    for (uint32_t i = 0; i < c; ++i)
        bits.WriteBits(codeLengthLengths[kCodeLengthOrder[i]], 3);

    auto write = [&](uint32_t, uint32_t symbol, uint32_t extraBits, uint32_t extraValue) {
        uint16_t code = 0;
        uint8_t length = 0;
        codeLengthEncoder.Encode(symbol, code, length);
        bits.WriteBits(code, length);
        if (extraBits != 0) bits.WriteBits(extraValue, extraBits);
    };
    ScanCodeLengths(write, literal);
    ScanCodeLengths(write, distance);
}

template <typename Bits>
void BlockEncoder::WriteBlockData(const BlockPlan& plan, Bits& bitsOut,
                                  SideFileBuffer& offsets) const {
    // The stream's and the side file's write positions live in local copies for the loop: the
    // bits being gathered then stay in registers from one pixel to the next.
    Bits bits = bitsOut;
    SideFileBuffer::FieldPacker side(offsets);
    const auto& literalCodes = plan.literalLength.Codes();
    const auto& literalLengths = plan.literalLength.CodeLengths();
    // Every byte of the block, pixel or match, has its residual byte: the block's start.
    const uint8_t* residual = input_.residual.data() + plan.start.position;
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
    for (uint32_t i = 0; i < plan.entryCount; ++i) {
        const uint32_t entry = plan.entries[i];
        if (entry < kEndOfBlock) {
            write_pixel(entry);
            continue;
        }
        const uint32_t value = entry - kMatchTokenBias;
        if (plan.keepAsMatch[i] != 0) {
            const CodeWithExtra length = LengthToCode(value);
            uint16_t code = 0;
            uint8_t codeBits = 0;
            plan.literalLength.Encode(length.symbol, code, codeBits);
            bits.WriteBits(code, codeBits);
            if (length.extraBits != 0) bits.WriteBits(length.extraValue, length.extraBits);
            const CodeWithExtra distance = DistanceToCode(plan.entries[++i]);
            plan.distance.Encode(distance.symbol, code, codeBits);
            bits.WriteBits(code, codeBits);
            if (distance.extraBits != 0) bits.WriteBits(distance.extraValue, distance.extraBits);
            residual += value - value % kBytesPerPixel;  // the byte length; the plane dropped
        } else {
            const uint32_t first = plan.matchPixel[i];
            const uint32_t pixels = value / kBytesPerPixel;
            for (uint32_t k = 0; k < pixels; ++k)
                write_pixel(input_.boxIndexPlane[first + k]);
            ++i;
        }
    }
    uint16_t code = 0;
    uint8_t length = 0;
    plan.literalLength.Encode(kEndOfBlock, code, length);
    bits.WriteBits(code, length);
    bitsOut = bits;
    side.Commit();
}

}  // namespace quenpix
