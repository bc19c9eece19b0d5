// Colour-box analysis: bucket fill, neighbour merging, gain-driven splits, pair merges, numbering.
#include "colourbox/colour_boxes.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

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

// Per channel, pixel counts by value.
using ChannelHistograms = std::array<std::array<uint32_t, 256>, 3>;

// A stretch of the element array; a box is one or more of them.
struct Segment {
    size_t begin;
    size_t end;
};

struct WorkingBox {
    uint32_t count = 0;
    ChannelBounds bounds;
    ChannelBounds split;
    uint32_t splitGain = 0;
    std::vector<Segment> segments;
};

// Truncates toward zero and keeps the low 32 bits as a signed value.
[[nodiscard]] int32_t TruncateToInt32(double value) noexcept {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(value)));
}

[[nodiscard]] inline uint32_t ValuesOf(uint64_t element) noexcept {
    return static_cast<uint32_t>(element >> 32);
}

[[nodiscard]] inline uint8_t Channel(uint32_t values, size_t c) noexcept {
    return static_cast<uint8_t>(values >> (8 * c));
}

void CountValues(ChannelHistograms& histograms, uint32_t values, uint32_t weight) noexcept {
    histograms[0][values & 0xFF] += weight;
    histograms[1][values >> 8 & 0xFF] += weight;
    histograms[2][values >> 16 & 0xFF] += weight;
}

// An element stands for one pixel, or, with weights, for all the pixels of one value triple.
[[nodiscard]] inline uint32_t WeightOf(uint64_t element, const uint32_t* weights) noexcept {
    return weights == nullptr ? 1 : weights[static_cast<uint32_t>(element)];
}

// The exact extremes of the values a histogram counts (it must count at least one).
[[nodiscard]] ChannelBounds BoundsOf(const ChannelHistograms& histograms) noexcept {
    ChannelBounds bounds;
    for (size_t c = 0; c < 3; ++c) {
        uint32_t low = 0;
        while (histograms[c][low] == 0)
            ++low;
        uint32_t high = 255;
        while (histograms[c][high] == 0)
            --high;
        bounds.low[c] = static_cast<uint8_t>(low);
        bounds.high[c] = static_cast<uint8_t>(high);
    }
    return bounds;
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

[[nodiscard]] constexpr size_t BucketIndex(uint32_t i, uint32_t j, uint32_t k) noexcept {
    return 16 * i + 4 * j + k;
}

[[nodiscard]] inline size_t BucketOf(uint32_t values) noexcept {
    return BucketIndex(values >> 6 & 3, values >> 14 & 3, values >> 22 & 3);
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

void EvaluateSplit(WorkingBox& box, const ChannelHistograms& histograms) noexcept {
    box.splitGain =
        MaySplit(box.bounds, box.count) ? BestCut(box.bounds, box.split, box.count, histograms) : 0;
}

void CountBox(const WorkingBox& box, std::span<const uint64_t> elements, const uint32_t* weights,
              ChannelHistograms& histograms) noexcept {
    for (const Segment& segment : box.segments) {
        for (size_t i = segment.begin; i < segment.end; ++i) {
            CountValues(histograms, ValuesOf(elements[i]), WeightOf(elements[i], weights));
        }
    }
}

// Pixels inside the proposed lower part stay in `box`, the rest go to `other`: every segment is
// partitioned in place into its two parts. Both parts' extremes and gains come from histograms
// counted on the way, so they are the exact extremes of their pixels, not the cut bounds.
void SplitBox(WorkingBox& box, WorkingBox& other, std::span<uint64_t> elements,
              const uint32_t* weights) noexcept {
    const ChannelBounds lower = box.split;
    const uint32_t low =
        uint32_t{lower.low[0]} | uint32_t{lower.low[1]} << 8 | uint32_t{lower.low[2]} << 16;
    const uint32_t high =
        uint32_t{lower.high[0]} | uint32_t{lower.high[1]} << 8 | uint32_t{lower.high[2]} << 16;
    auto within = [low, high](uint32_t values) {
        for (uint32_t shift = 0; shift < 24; shift += 8) {
            const uint32_t v = values >> shift & 0xFF;
            if (v < (low >> shift & 0xFF) || v > (high >> shift & 0xFF)) return false;
        }
        return true;
    };
    ChannelHistograms inside{};
    ChannelHistograms outside{};
    std::vector<Segment> kept;
    other.segments.clear();
    uint32_t keptCount = 0;
    for (const Segment& segment : box.segments) {
        size_t front = segment.begin;
        size_t back = segment.end;
        while (front < back) {
            const uint32_t values = ValuesOf(elements[front]);
            const uint32_t weight = WeightOf(elements[front], weights);
            if (within(values)) {
                CountValues(inside, values, weight);
                keptCount += weight;
                ++front;
            } else {
                CountValues(outside, values, weight);
                std::swap(elements[front], elements[--back]);
            }
        }
        if (front > segment.begin) kept.push_back({segment.begin, front});
        if (segment.end > front) other.segments.push_back({front, segment.end});
    }
    other.count = box.count - keptCount;
    box.count = keptCount;
    box.segments = std::move(kept);
    box.bounds = BoundsOf(inside);
    other.bounds = BoundsOf(outside);
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
                       uint32_t selectedGain, std::span<const uint64_t> elements,
                       const uint32_t* weights) {
    std::array<double, kMaxColourBoxes> alone{};
    std::array<uint32_t, kMaxColourBoxes> widths{};
    for (uint32_t b = 0; b < kMaxColourBoxes; ++b) {
        widths[b] = WidthSum(boxes[b].bounds);
        alone[b] = Charge(boxes[b].count, widths[b]);
    }
    int32_t bestCost = static_cast<int32_t>(selectedGain);
    uint32_t bestI = selectedBox;
    uint32_t bestJ = kMaxColourBoxes - 1;
    for (uint32_t i = 0; i + 1 < kMaxColourBoxes; ++i) {
        const WorkingBox& a = boxes[i];
        for (uint32_t j = i + 1; j < kMaxColourBoxes; ++j) {
            const WorkingBox& b = boxes[j];
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

    WorkingBox& target = boxes[bestI];
    WorkingBox& source = boxes[bestJ];
    target.count += source.count;
    target.bounds = Union(target.bounds, source.bounds);
    target.segments.insert(target.segments.end(), source.segments.begin(), source.segments.end());
    ChannelHistograms histograms{};
    CountBox(target, elements, weights, histograms);
    EvaluateSplit(target, histograms);
    if (bestJ != kMaxColourBoxes - 1) source = boxes[kMaxColourBoxes - 1];
    return true;
}

// Splits the box with the largest gain (the lowest number on ties) until no cut pays or the table
// is full and no pair merge frees a slot. Returns the box count.
uint32_t RefineBoxes(std::array<WorkingBox, kMaxColourBoxes>& boxes, uint32_t boxCount,
                     std::span<uint64_t> elements, const uint32_t* weights) {
    while (boxCount < kMaxColourBoxes) {
        uint32_t selected = 0;
        for (uint32_t b = 1; b < boxCount; ++b) {
            if (boxes[b].splitGain > boxes[selected].splitGain) selected = b;
        }
        const uint32_t selectedGain = boxes[selected].splitGain;
        if (selectedGain <= kMaxRejectedGain) break;

        SplitBox(boxes[selected], boxes[boxCount], elements, weights);
        ++boxCount;

        if (boxCount == kMaxColourBoxes &&
            MergeCheapestPair(boxes, selected, selectedGain, elements, weights)) {
            boxCount = kMaxColourBoxes - 1;
        }
    }
    return boxCount;
}

// Stable, most populous first: each box moves in front of the first earlier box with strictly
// fewer pixels, so equal counts keep their order of creation.
void OrderByCount(std::span<WorkingBox> boxes) noexcept {
    for (size_t k = 1; k < boxes.size(); ++k) {
        const uint32_t count = boxes[k].count;
        size_t target = 0;
        while (target < k && boxes[target].count >= count) {
            ++target;
        }
        if (target < k) {
            std::rotate(boxes.begin() + static_cast<ptrdiff_t>(target),
                        boxes.begin() + static_cast<ptrdiff_t>(k),
                        boxes.begin() + static_cast<ptrdiff_t>(k + 1));
        }
    }
}

struct Bucket {
    uint32_t count = 0;
    ChannelBounds bounds;
    ChannelHistograms histograms{};
};

// Each pass runs upward, so a bucket that absorbed its lower neighbour may itself be absorbed.
// `owner` follows every bucket's pixels to the bucket that holds them now.
void MergeNeighbourBuckets(std::array<Bucket, kBucketCount>& buckets,
                           std::array<size_t, kBucketCount>& owner) noexcept {
    auto merge = [&](size_t source, size_t target) {
        Bucket& s = buckets[source];
        Bucket& t = buckets[target];
        if (s.count == 0 || t.count == 0) return;
        const ChannelBounds joined = Union(s.bounds, t.bounds);
        if (!SpansBelow(joined, kBucketMergeSpan)) return;
        t.count += s.count;
        t.bounds = joined;
        for (size_t c = 0; c < 3; ++c) {
            for (size_t v = 0; v < 256; ++v)
                t.histograms[c][v] += s.histograms[c][v];
        }
        s.count = 0;
        for (size_t& o : owner) {
            if (o == source) o = target;
        }
    };
    for (uint32_t i = 1; i < 4; ++i) {
        for (uint32_t j = 0; j < 4; ++j) {
            for (uint32_t k = 0; k < 4; ++k)
                merge(BucketIndex(i - 1, j, k), BucketIndex(i, j, k));
        }
    }
    for (uint32_t i = 0; i < 4; ++i) {
        for (uint32_t j = 1; j < 4; ++j) {
            for (uint32_t k = 0; k < 4; ++k)
                merge(BucketIndex(i, j - 1, k), BucketIndex(i, j, k));
        }
    }
    for (uint32_t i = 0; i < 4; ++i) {
        for (uint32_t j = 0; j < 4; ++j) {
            for (uint32_t k = 1; k < 4; ++k)
                merge(BucketIndex(i, j, k - 1), BucketIndex(i, j, k));
        }
    }
}

// Orders the elements by box in place (each box's pixels become one segment) and returns the
// first boxes: the buckets left non-empty by the neighbour merges, in bucket order.
uint32_t CollectBoxes(std::span<uint64_t> elements, const uint32_t* weights,
                      std::array<WorkingBox, kMaxColourBoxes>& boxes) {
    auto buckets = std::make_unique<std::array<Bucket, kBucketCount>>();
    std::array<size_t, kBucketCount> bucketElements{};
    for (const uint64_t element : elements) {
        const uint32_t values = ValuesOf(element);
        const uint32_t weight = WeightOf(element, weights);
        ++bucketElements[BucketOf(values)];
        Bucket& bucket = (*buckets)[BucketOf(values)];
        for (size_t c = 0; c < 3; ++c) {
            const uint8_t v = Channel(values, c);
            if (bucket.count == 0) {
                bucket.bounds.low[c] = bucket.bounds.high[c] = v;
            } else {
                bucket.bounds.low[c] = std::min(bucket.bounds.low[c], v);
                bucket.bounds.high[c] = std::max(bucket.bounds.high[c], v);
            }
        }
        bucket.count += weight;
        CountValues(bucket.histograms, values, weight);
    }
    std::array<size_t, kBucketCount> owner{};
    for (size_t b = 0; b < kBucketCount; ++b)
        owner[b] = b;
    MergeNeighbourBuckets(*buckets, owner);

    std::array<uint32_t, kBucketCount> boxOfBucket{};
    uint32_t boxCount = 0;
    std::array<uint32_t, kBucketCount> boxOfOwner{};
    for (size_t b = 0; b < kBucketCount; ++b) {
        const Bucket& bucket = (*buckets)[b];
        if (bucket.count == 0) continue;
        WorkingBox& box = boxes[boxCount];
        box.count = bucket.count;
        box.bounds = bucket.bounds;
        box.split = bucket.bounds;
        EvaluateSplit(box, bucket.histograms);
        boxOfOwner[b] = boxCount++;
    }
    std::array<size_t, kMaxColourBoxes> boxElements{};
    for (size_t b = 0; b < kBucketCount; ++b) {
        boxOfBucket[b] = boxOfOwner[owner[b]];
        boxElements[boxOfBucket[b]] += bucketElements[b];
    }

    // Counting sort by box, in place: each element is moved straight to its box's next free slot.
    std::array<size_t, kMaxColourBoxes> next{};
    std::array<size_t, kMaxColourBoxes> end{};
    size_t start = 0;
    for (uint32_t k = 0; k < boxCount; ++k) {
        boxes[k].segments = {{start, start + boxElements[k]}};
        next[k] = start;
        start += boxElements[k];
        end[k] = start;
    }
    for (uint32_t k = 0; k < boxCount; ++k) {
        while (next[k] < end[k]) {
            uint64_t element = elements[next[k]];
            uint32_t home = boxOfBucket[BucketOf(ValuesOf(element))];
            while (home != k) {
                std::swap(element, elements[next[home]++]);
                home = boxOfBucket[BucketOf(ValuesOf(element))];
            }
            elements[next[k]++] = element;
        }
    }
    return boxCount;
}

// The whole partition: bucket fill and merges, refinement, ordering. Returns the box count.
uint32_t AnalyseBoxes(std::span<uint64_t> elements, const uint32_t* weights,
                      std::array<WorkingBox, kMaxColourBoxes>& boxes) {
    uint32_t boxCount = CollectBoxes(elements, weights, boxes);
    boxCount = RefineBoxes(boxes, boxCount, elements, weights);
    OrderByCount(std::span(boxes).first(boxCount));
    return boxCount;
}

void FillTable(const std::array<WorkingBox, kMaxColourBoxes>& boxes, uint32_t boxCount,
               ColourBoxTable& table) {
    table.boxCount = static_cast<uint16_t>(boxCount);
    table.offsetBitCount = 0;
    for (uint32_t k = 0; k < boxCount; ++k) {
        const WorkingBox& box = boxes[k];
        for (size_t c = 0; c < 3; ++c) {
            table.minimum[c][k] = box.bounds.low[c];
            table.maximum[c][k] = box.bounds.high[c];
            table.width[c][k] = static_cast<uint8_t>(
                BitsForCount(uint32_t{box.bounds.high[c]} - box.bounds.low[c] + 1));
        }
        table.offsetBitCount += uint64_t{table.PixelBits(k)} * box.count;
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
        const uint8_t* values = residual.data() + size_t{3} * pixel;
        ++histograms[0][values[0]];
        ++histograms[1][values[1]];
        ++histograms[2][values[2]];
        pixel = pixelLinks[pixel];
    }
    return BestCut(box, split, count, histograms);
}

uint64_t ColourBoxElement(uint32_t pixel, const uint8_t* values) noexcept {
    const uint32_t packed =
        uint32_t{values[0]} | uint32_t{values[1]} << 8 | uint32_t{values[2]} << 16;
    return uint64_t{packed} << 32 | pixel;
}

void BuildColourBoxes(std::span<uint64_t> elements, std::span<uint8_t> boxIndexPlane,
                      ColourBoxTable& table) {
    assert(!elements.empty());
    std::array<WorkingBox, kMaxColourBoxes> boxes{};
    const uint32_t boxCount = AnalyseBoxes(elements, nullptr, boxes);
    FillTable(boxes, boxCount, table);
    for (uint32_t k = 0; k < boxCount; ++k) {
        for (const Segment& segment : boxes[k].segments) {
            for (size_t i = segment.begin; i < segment.end; ++i) {
                boxIndexPlane[static_cast<uint32_t>(elements[i])] = static_cast<uint8_t>(k);
            }
        }
    }
}

DistinctTriples::DistinctTriples(uint32_t maxDistinct) : maxDistinct_(maxDistinct) {
    slots_.assign(kInitialSlots, Slot{0, 0});
}

namespace {
// The slot key of a triple: never 0, so that 0 can mark an empty slot.
inline uint32_t SlotKey(const uint8_t* values) noexcept {
    return uint32_t{values[0]} | uint32_t{values[1]} << 8 | uint32_t{values[2]} << 16 | 1u << 24;
}
}  // namespace

uint32_t DistinctTriples::SlotOf(uint32_t key) const noexcept {
    const uint32_t mask = static_cast<uint32_t>(slots_.size()) - 1;
    uint32_t slot =
        (key * 0x9E3779B1u) >> (32 - std::countr_zero(static_cast<uint32_t>(slots_.size())));
    while (slots_[slot].key != 0 && slots_[slot].key != key)
        slot = (slot + 1) & mask;
    return slot;
}

bool DistinctTriples::Add(const uint8_t* values) {
    const uint32_t key = SlotKey(values);
    Slot& slot = slots_[SlotOf(key)];
    if (slot.key != 0) {
        ++counts_[slot.index];
        return true;
    }
    if (keys_.size() == maxDistinct_) return false;
    slot = {key, static_cast<uint32_t>(keys_.size())};
    keys_.push_back(key & 0xFFFFFF);
    counts_.push_back(1);
    Grow();
    return true;
}

void DistinctTriples::Grow() {
    // Kept at most half full, so that probes stay short.
    if (2 * keys_.size() > slots_.size()) {
        slots_.assign(2 * slots_.size(), Slot{0, 0});
        for (uint32_t i = 0; i < keys_.size(); ++i) {
            const uint32_t k = keys_[i] | 1u << 24;
            slots_[SlotOf(k)] = {k, i};
        }
    }
}

bool DistinctTriples::Merge(const DistinctTriples& later) {
    for (uint32_t i = 0; i < later.keys_.size(); ++i) {
        const uint32_t key = later.keys_[i] | 1u << 24;
        Slot& slot = slots_[SlotOf(key)];
        if (slot.key != 0) {
            counts_[slot.index] += later.counts_[i];
            continue;
        }
        if (keys_.size() == maxDistinct_) return false;
        slot = {key, static_cast<uint32_t>(keys_.size())};
        keys_.push_back(later.keys_[i]);
        counts_.push_back(later.counts_[i]);
        Grow();
    }
    return true;
}

void DistinctTriples::BuildColourBoxes(ColourBoxTable& table) {
    assert(!keys_.empty());
    std::vector<uint64_t> elements(keys_.size());
    for (uint32_t i = 0; i < keys_.size(); ++i)
        elements[i] = uint64_t{keys_[i]} << 32 | i;
    std::array<WorkingBox, kMaxColourBoxes> boxes{};
    const uint32_t boxCount = AnalyseBoxes(elements, counts_.data(), boxes);
    FillTable(boxes, boxCount, table);
    boxes_.assign(keys_.size(), 0);
    for (uint32_t k = 0; k < boxCount; ++k) {
        for (const Segment& segment : boxes[k].segments) {
            for (size_t i = segment.begin; i < segment.end; ++i) {
                boxes_[static_cast<uint32_t>(elements[i])] = static_cast<uint8_t>(k);
            }
        }
    }
}

uint8_t DistinctTriples::BoxOf(const uint8_t* values) const noexcept {
    return boxes_[slots_[SlotOf(SlotKey(values))].index];
}

void BuildColourBoxes(std::span<const uint8_t> residual, std::span<uint32_t> pixelLinks,
                      std::span<uint8_t> boxIndexPlane, ColourBoxTable& table) {
    assert(!pixelLinks.empty() && residual.size() >= 3 * pixelLinks.size());
    std::vector<uint64_t> elements;
    uint32_t pixel = 0;
    // Bounded by the pixel count so that a malformed list cannot loop forever.
    for (size_t visited = 0; visited < pixelLinks.size(); ++visited) {
        elements.push_back(ColourBoxElement(pixel, residual.data() + size_t{3} * pixel));
        const uint32_t next = pixelLinks[pixel];
        if (next == 0) break;
        assert(next < pixelLinks.size());
        pixel = next;
    }
    BuildColourBoxes(elements, boxIndexPlane, table);
}

}  // namespace quenpix
