// Colour-box analysis: bucket fill, neighbour merging, gain-driven splits, pair merges, numbering.
#include "colourbox/colour_boxes.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstddef>

namespace quenpix {
namespace {

// Deliberately not the exact 1 / ln 2: the truncated gains, and so the boxes, depend on it.
constexpr double kLog2Factor = 1.4426950409;
constexpr uint32_t kMaxBitsForCount = 27;

constexpr uint32_t kBucketCount = 64;
// Neighbour merges keep every bucket's range below 64 per channel, so no width exceeds 6.
constexpr uint32_t kBucketMergeSpan = 64;
// Pair merges keep every range below 128, so no width exceeds 7 and fits the side file's 3 bits.
constexpr uint32_t kPairMergeSpan = 128;
// Boxes of at most this many pixels are never split, and no cut gaining this much or less is made.
constexpr uint32_t kMinSplitCount = 40;
constexpr uint32_t kMaxRejectedGain = 40;
// A pair merge must cost this much less than the split that reached the box limit.
constexpr int32_t kPairMergeMargin = 80;

// A run of pixels chained through the link array, with the exact extremes of their values.
struct PixelChain {
    uint32_t count = 0;
    uint32_t first = 0;
    uint32_t last = 0;
    ChannelBounds bounds;
};

struct WorkingBox {
    PixelChain chain;
    ChannelBounds split;
    uint32_t splitGain = 0;
};

// Truncates toward zero and keeps the low 32 bits as a signed value.
[[nodiscard]] int32_t TruncateToInt32(double value) noexcept {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(value)));
}

[[nodiscard]] const uint8_t* PixelValues(std::span<const uint8_t> residual,
                                         uint32_t pixel) noexcept {
    return residual.data() + size_t{3} * pixel;
}

// An append only rewrites the link of the chain's previous last pixel, never that of `pixel`,
// so a walk may keep following links while it rebuilds chains.
void Append(PixelChain& chain, std::span<uint32_t> links, uint32_t pixel,
            const uint8_t* values) noexcept {
    if (chain.count == 0) {
        chain.first = pixel;
        for (size_t c = 0; c < 3; ++c) {
            chain.bounds.low[c] = chain.bounds.high[c] = values[c];
        }
    } else {
        links[chain.last] = pixel;
        for (size_t c = 0; c < 3; ++c) {
            chain.bounds.low[c] = std::min(chain.bounds.low[c], values[c]);
            chain.bounds.high[c] = std::max(chain.bounds.high[c], values[c]);
        }
    }
    chain.last = pixel;
    ++chain.count;
}

[[nodiscard]] ChannelBounds Union(const ChannelBounds& a, const ChannelBounds& b) noexcept {
    ChannelBounds result;
    for (size_t c = 0; c < 3; ++c) {
        result.low[c] = std::min(a.low[c], b.low[c]);
        result.high[c] = std::max(a.high[c], b.high[c]);
    }
    return result;
}

[[nodiscard]] bool SpansBelow(const ChannelBounds& bounds, uint32_t span) noexcept {
    for (size_t c = 0; c < 3; ++c) {
        if (uint32_t{bounds.high[c]} - bounds.low[c] >= span) return false;
    }
    return true;
}

// Moves the pixels of `source` to the end of `target`.
void Concatenate(PixelChain& target, PixelChain& source, std::span<uint32_t> links) noexcept {
    links[target.last] = source.first;
    target.last = source.last;
    target.count += source.count;
    target.bounds = Union(target.bounds, source.bounds);
    source.count = 0;
}

void MergeBuckets(PixelChain& source, PixelChain& target, std::span<uint32_t> links) noexcept {
    if (source.count == 0 || target.count == 0) return;
    if (!SpansBelow(Union(source.bounds, target.bounds), kBucketMergeSpan)) return;
    Concatenate(target, source, links);
}

[[nodiscard]] constexpr size_t BucketIndex(uint32_t i, uint32_t j, uint32_t k) noexcept {
    return 16 * i + 4 * j + k;
}

// Each pass runs upward, so a bucket that absorbed its lower neighbour may itself be absorbed.
void MergeNeighbourBuckets(std::array<PixelChain, kBucketCount>& buckets,
                           std::span<uint32_t> links) noexcept {
    for (uint32_t i = 1; i < 4; ++i) {
        for (uint32_t j = 0; j < 4; ++j) {
            for (uint32_t k = 0; k < 4; ++k) {
                MergeBuckets(buckets[BucketIndex(i - 1, j, k)], buckets[BucketIndex(i, j, k)],
                             links);
            }
        }
    }
    for (uint32_t i = 0; i < 4; ++i) {
        for (uint32_t j = 1; j < 4; ++j) {
            for (uint32_t k = 0; k < 4; ++k) {
                MergeBuckets(buckets[BucketIndex(i, j - 1, k)], buckets[BucketIndex(i, j, k)],
                             links);
            }
        }
    }
    for (uint32_t i = 0; i < 4; ++i) {
        for (uint32_t j = 0; j < 4; ++j) {
            for (uint32_t k = 1; k < 4; ++k) {
                MergeBuckets(buckets[BucketIndex(i, j, k - 1)], buckets[BucketIndex(i, j, k)],
                             links);
            }
        }
    }
}

// Per channel, pixel counts by value.
using ChannelHistograms = std::array<std::array<uint32_t, 256>, 3>;

void CountValues(ChannelHistograms& histograms, const uint8_t* values) noexcept {
    for (size_t c = 0; c < 3; ++c) {
        ++histograms[c][values[c]];
    }
}

// Boxes of at most 40 pixels and single value triples are never split.
[[nodiscard]] bool MaySplit(const ChannelBounds& box, uint32_t count) noexcept {
    return count > kMinSplitCount && box.low != box.high;
}

// The best single cut of a box whose values `histograms` counts; see FindBestSplit.
[[nodiscard]] uint32_t BestCut(const ChannelBounds& box, ChannelBounds& split, uint32_t count,
                               const ChannelHistograms& histograms) noexcept {
    split = box;
    const double total = count;
    const double totalLog = LogBase2(total);
    int32_t best = 0;
    size_t chosen = 3;
    uint8_t cutValue = 0;
    for (size_t c = 0; c < 3; ++c) {
        if (box.high[c] <= box.low[c]) continue;
        const uint32_t span = uint32_t{box.high[c]} - box.low[c];
        const uint32_t* histogram = histograms[c].data() + box.low[c];
        // The whole box's charge is truncated before the parts are subtracted; the parts are not.
        const double whole =
            TruncateToInt32((static_cast<double>(BitsForCount(span + 1)) - totalLog) * total);
        uint32_t below = 0;
        uint32_t above = count;
        // The lowest and highest bins hold the box's extremes, so neither is empty and every
        // cut has a next non-empty bin.
        uint32_t cut = 0;
        while (cut < span) {
            below += histogram[cut];
            above -= histogram[cut];
            uint32_t next = cut + 1;
            while (histogram[next] == 0) {
                ++next;
            }
            const double lowCharge =
                (static_cast<double>(BitsForCount(cut + 1)) - LogBase2(below)) * below;
            const double highCharge =
                (static_cast<double>(BitsForCount(span - next + 1)) - LogBase2(above)) * above;
            const int32_t gain = TruncateToInt32(whole - (highCharge + lowCharge));
            // Strict: on equal gains the earlier channel and the smaller cut win.
            if (gain > 0 && gain > best) {
                best = gain;
                chosen = c;
                cutValue = static_cast<uint8_t>(box.low[c] + cut);
            }
            cut = next;
        }
    }
    if (chosen < 3) split.high[chosen] = cutValue;
    return static_cast<uint32_t>(best);
}

void EvaluateSplit(WorkingBox& box, std::span<const uint32_t> links,
                   std::span<const uint8_t> residual) noexcept {
    box.splitGain = FindBestSplit(box.chain.bounds, box.split, box.chain.count, box.chain.first,
                                  links, residual);
}

// As EvaluateSplit, from histograms counted while the box was rebuilt.
void EvaluateSplit(WorkingBox& box, const ChannelHistograms& histograms) noexcept {
    box.splitGain = MaySplit(box.chain.bounds, box.chain.count)
                        ? BestCut(box.chain.bounds, box.split, box.chain.count, histograms)
                        : 0;
}

// Pixels inside the proposed lower part stay in `box`, the rest go to `other`. The appends
// recompute both boxes' extremes exactly rather than taking the cut bounds. Both parts are
// evaluated from histograms counted on the way, which saves walking their chains again.
void SplitBox(WorkingBox& box, WorkingBox& other, std::span<uint32_t> links,
              std::span<const uint8_t> residual) noexcept {
    const uint32_t count = box.chain.count;
    uint32_t pixel = box.chain.first;
    const ChannelBounds lower = box.split;
    box.chain.count = 0;
    other.chain.count = 0;
    ChannelHistograms inside{};
    ChannelHistograms outside{};
    for (uint32_t visited = 0; visited < count; ++visited) {
        const uint32_t next = links[pixel];
        const uint8_t* values = PixelValues(residual, pixel);
        bool within = true;
        for (size_t c = 0; c < 3; ++c) {
            within = within && values[c] >= lower.low[c] && values[c] <= lower.high[c];
        }
        Append(within ? box.chain : other.chain, links, pixel, values);
        CountValues(within ? inside : outside, values);
        pixel = next;
    }
    EvaluateSplit(box, inside);
    EvaluateSplit(other, outside);
}

[[nodiscard]] uint32_t WidthSum(const ChannelBounds& bounds) noexcept {
    uint32_t sum = 0;
    for (size_t c = 0; c < 3; ++c)
        sum += BitsForCount(uint32_t{bounds.high[c]} - bounds.low[c] + 1);
    return sum;
}

// The charge of n pixels with w offset bits each, less the ideal code of their box symbol.
[[nodiscard]] double Charge(uint32_t count, uint32_t widthSum) noexcept {
    const double n = count;
    return (static_cast<double>(widthSum) - LogBase2(n)) * n;
}

// Looks for the cheapest eligible pair once the table is full. Returns false when no merge pays
// for at least `selectedGain` - 80; otherwise merges it, leaving 255 boxes.
bool MergeCheapestPair(std::array<WorkingBox, kMaxColourBoxes>& boxes, uint32_t selectedBox,
                       uint32_t selectedGain, std::span<uint32_t> links,
                       std::span<const uint8_t> residual) noexcept {
    std::array<double, kMaxColourBoxes> alone{};
    for (uint32_t b = 0; b < kMaxColourBoxes; ++b) {
        alone[b] = Charge(boxes[b].chain.count, WidthSum(boxes[b].chain.bounds));
    }
    int32_t bestCost = static_cast<int32_t>(selectedGain);
    uint32_t bestI = selectedBox;
    uint32_t bestJ = kMaxColourBoxes - 1;
    for (uint32_t i = 0; i + 1 < kMaxColourBoxes; ++i) {
        const PixelChain& a = boxes[i].chain;
        for (uint32_t j = i + 1; j < kMaxColourBoxes; ++j) {
            const PixelChain& b = boxes[j].chain;
            const ChannelBounds joined = Union(a.bounds, b.bounds);
            if (!SpansBelow(joined, kPairMergeSpan)) continue;
            const int32_t cost =
                TruncateToInt32(Charge(a.count + b.count, WidthSum(joined)) - alone[i] - alone[j]);
            if (cost < bestCost) {
                bestCost = cost;
                bestI = i;
                bestJ = j;
            }
        }
    }
    if (bestCost >= static_cast<int32_t>(selectedGain) - kPairMergeMargin) return false;

    Concatenate(boxes[bestI].chain, boxes[bestJ].chain, links);
    EvaluateSplit(boxes[bestI], links, residual);
    if (bestJ != kMaxColourBoxes - 1) boxes[bestJ] = boxes[kMaxColourBoxes - 1];
    return true;
}

// Splits the box with the largest gain (the lowest number on ties) until no cut pays or the table
// is full and no pair merge frees a slot. Returns the box count.
uint32_t RefineBoxes(std::array<WorkingBox, kMaxColourBoxes>& boxes, uint32_t boxCount,
                     std::span<uint32_t> links, std::span<const uint8_t> residual) noexcept {
    while (boxCount < kMaxColourBoxes) {
        uint32_t selected = 0;
        for (uint32_t b = 1; b < boxCount; ++b) {
            if (boxes[b].splitGain > boxes[selected].splitGain) selected = b;
        }
        const uint32_t selectedGain = boxes[selected].splitGain;
        if (selectedGain <= kMaxRejectedGain) break;

        WorkingBox& added = boxes[boxCount];
        SplitBox(boxes[selected], added, links, residual);
        ++boxCount;

        if (boxCount == kMaxColourBoxes &&
            MergeCheapestPair(boxes, selected, selectedGain, links, residual)) {
            boxCount = kMaxColourBoxes - 1;
        }
    }
    return boxCount;
}

// Stable, most populous first: each box moves in front of the first earlier box with strictly
// fewer pixels, so equal counts keep their order of creation.
void OrderByCount(std::span<WorkingBox> boxes) noexcept {
    for (size_t k = 1; k < boxes.size(); ++k) {
        const uint32_t count = boxes[k].chain.count;
        size_t target = 0;
        while (target < k && boxes[target].chain.count >= count) {
            ++target;
        }
        if (target < k) {
            std::rotate(boxes.begin() + static_cast<ptrdiff_t>(target),
                        boxes.begin() + static_cast<ptrdiff_t>(k),
                        boxes.begin() + static_cast<ptrdiff_t>(k + 1));
        }
    }
}

}  // namespace

uint32_t BitsForCount(uint32_t x) noexcept {
    if (x <= 1) return 0;
    return std::min(static_cast<uint32_t>(std::bit_width(x - 1)), kMaxBitsForCount);
}

double LogBase2(double x) noexcept {
    return std::log(x) * kLog2Factor;
}

uint32_t FindBestSplit(const ChannelBounds& box, ChannelBounds& split, uint32_t count,
                       uint32_t first, std::span<const uint32_t> pixelLinks,
                       std::span<const uint8_t> residual) noexcept {
    if (!MaySplit(box, count)) return 0;
    ChannelHistograms histograms{};
    uint32_t pixel = first;
    for (uint32_t visited = 0; visited < count; ++visited) {
        CountValues(histograms, PixelValues(residual, pixel));
        pixel = pixelLinks[pixel];
    }
    return BestCut(box, split, count, histograms);
}

void BuildColourBoxes(std::span<const uint8_t> residual, std::span<uint32_t> pixelLinks,
                      std::span<uint8_t> boxIndexPlane, ColourBoxTable& table) {
    assert(!pixelLinks.empty() && residual.size() >= 3 * pixelLinks.size());
    assert(boxIndexPlane.size() >= pixelLinks.size());

    std::array<PixelChain, kBucketCount> buckets{};
    uint32_t pixel = 0;
    // Bounded by the pixel count so that a malformed list cannot loop forever.
    for (size_t visited = 0; visited < pixelLinks.size(); ++visited) {
        const uint8_t* values = PixelValues(residual, pixel);
        Append(buckets[BucketIndex(values[0] >> 6, values[1] >> 6, values[2] >> 6)], pixelLinks,
               pixel, values);
        const uint32_t next = pixelLinks[pixel];
        if (next == 0) break;
        assert(next < pixelLinks.size());
        pixel = next;
    }
    MergeNeighbourBuckets(buckets, pixelLinks);

    std::array<WorkingBox, kMaxColourBoxes> boxes{};
    uint32_t boxCount = 0;
    for (const PixelChain& bucket : buckets) {
        if (bucket.count == 0) continue;
        WorkingBox& box = boxes[boxCount++];
        box.chain = bucket;
        box.split = bucket.bounds;
        EvaluateSplit(box, pixelLinks, residual);
    }

    boxCount = RefineBoxes(boxes, boxCount, pixelLinks, residual);
    OrderByCount(std::span(boxes).first(boxCount));

    table.boxCount = static_cast<uint16_t>(boxCount);
    table.offsetBitCount = 0;
    for (uint32_t k = 0; k < boxCount; ++k) {
        const PixelChain& chain = boxes[k].chain;
        pixel = chain.first;
        for (uint32_t visited = 0; visited < chain.count; ++visited) {
            boxIndexPlane[pixel] = static_cast<uint8_t>(k);
            pixel = pixelLinks[pixel];
        }
        for (size_t c = 0; c < 3; ++c) {
            table.minimum[c][k] = chain.bounds.low[c];
            table.maximum[c][k] = chain.bounds.high[c];
            table.width[c][k] = static_cast<uint8_t>(
                BitsForCount(uint32_t{chain.bounds.high[c]} - chain.bounds.low[c] + 1));
        }
        table.offsetBitCount += uint64_t{table.PixelBits(k)} * chain.count;
    }
}

}  // namespace quenpix
