// Per block, writes matches of one to three pixels as box-coded pixels where that is cheaper.
#include <array>
#include <cmath>

#include "stream/block_encoder.hpp"
#include "stream/deflate_codes.hpp"
#include "stream/match_finder.hpp"

namespace quenpix {

namespace {

constexpr uint32_t kClassCount = 12;
// Class 2 stands for replacing nothing; classes 3, 6, 9 for every short match up to that size.
constexpr uint32_t kNoReplacementClass = 2;
constexpr uint32_t kLiteralLengthSymbols = 286;
// An extra distance symbol whose code length prices the distance codes no entry uses.
constexpr uint32_t kSpareDistanceSymbol = 30;
constexpr uint32_t kMinSpareDistanceCost = 3;

struct ReplacementClass {
    bool present = false;
    std::array<uint32_t, kLiteralLengthSymbols> literalDelta{};
    std::array<uint32_t, kDistanceSymbolCount> distanceDelta{};
    int32_t bitBalance = 0;
};

// n ln n summed over counts above 1, in increasing symbol order: the order fixes the rounding.
template <size_t N>
double SumNLogN(const std::array<uint32_t, N>& counts, double& total) {
    double sum = 0.0;
    uint64_t all = 0;
    for (const uint32_t n : counts) {
        all += n;
        if (n > 1) sum += static_cast<double>(n) * std::log(static_cast<double>(n));
    }
    total = static_cast<double>(all);
    return sum;
}

struct CostTables {
    std::array<uint8_t, kLiteralLengthSymbols> literal{};
    std::array<uint8_t, kDistanceSymbolCount> distance{};
};

// Code lengths of real codes built from the counts; unused symbols cost what a new symbol would.
CostTables BuildCostTables(const std::array<uint32_t, kLiteralLengthSymbols>& literalCounts,
                           const std::array<uint32_t, kDistanceSymbolCount>& distanceCounts) {
    CostTables tables;
    PngHuffmanEncoder estimate;
    estimate.Reset();
    std::copy(literalCounts.begin(), literalCounts.end(), estimate.Frequencies().begin());
    estimate.BuildTable(15);
    const auto& literalLengths = estimate.CodeLengths();
    for (uint32_t k = 0; k < kLiteralLengthSymbols; ++k) {
        tables.literal[k] =
            literalLengths[k] != 0 ? literalLengths[k] : literalLengths[kEndOfBlock];
    }
    estimate.Reset();
    std::copy(distanceCounts.begin(), distanceCounts.end(), estimate.Frequencies().begin());
    estimate.Frequencies()[kSpareDistanceSymbol] = 1;
    estimate.BuildTable(15);
    const auto& distanceLengths = estimate.CodeLengths();
    const uint8_t spare =
        std::max<uint8_t>(distanceLengths[kSpareDistanceSymbol], kMinSpareDistanceCost);
    for (uint32_t k = 0; k < kDistanceSymbolCount; ++k) {
        tables.distance[k] = distanceLengths[k] != 0 ? distanceLengths[k] : spare;
    }
    return tables;
}

}  // namespace

void BlockEncoder::ReplaceShortMatches() {
    const ColourBoxTable& boxes = *input_.boxes;
    const uint8_t* boxIndex = input_.boxIndexPlane.data();
    auto& literalCounts = literalLengthEncoder_.Frequencies();
    auto& distanceCounts = distanceEncoder_.Frequencies();
    std::array<uint32_t, PngHuffmanEncoder::kSymbolCount> wlit = literalCounts;
    std::array<uint32_t, kDistanceSymbolCount> wdist{};
    std::copy_n(distanceCounts.begin(), kDistanceSymbolCount, wdist.begin());

    struct ShortMatch {
        uint32_t entry;
        uint32_t byteLength;
        uint32_t plane;
        CodeWithExtra length;
        CodeWithExtra distance;
    };
    auto describe = [&](uint32_t entry) {
        const uint32_t value = blockEntries_[entry] - kMatchTokenBias;
        const uint32_t plane = value % 3;
        return ShortMatch{entry, value - plane, plane, LengthToCode(value),
                          DistanceToCode(blockEntries_[entry + 1])};
    };

    // What replacing the short matches of each size would change in the counts and bits.
    std::array<ReplacementClass, kClassCount> classes{};
    for (uint32_t i = 0; i < shortMatchCount_; ++i) {
        const ShortMatch match = describe(shortMatches_[i]);
        ReplacementClass& cls = classes[match.byteLength];
        cls.present = true;
        const uint32_t first = matchPixel_[match.entry];
        for (uint32_t k = 0; k < match.byteLength / kBytesPerPixel; ++k) {
            const uint8_t box = boxIndex[first + k];
            cls.literalDelta[box] += 1;
            cls.bitBalance -= static_cast<int32_t>(boxes.PixelBits(box));
        }
        cls.literalDelta[match.length.symbol] += 1;
        cls.distanceDelta[match.distance.symbol] += 1;
        cls.bitBalance += match.length.extraBits + match.distance.extraBits;
    }

    // The class (replace none, or every short match up to 1, 2 or 3 pixels) with the lowest
    // Shannon estimate; a tie keeps the smaller class.
    classes[kNoReplacementClass].present = true;
    double best = 4294967295.0;
    uint32_t bestClass = kNoReplacementClass;
    uint32_t previous = 0;
    std::array<uint32_t, kLiteralLengthSymbols> f{};
    std::array<uint32_t, kDistanceSymbolCount> g{};
    std::array<uint32_t, kLiteralLengthSymbols> bestF{};
    std::array<uint32_t, kDistanceSymbolCount> bestG{};
    for (uint32_t t = kNoReplacementClass; t < kClassCount; ++t) {
        ReplacementClass& cls = classes[t];
        if (!cls.present) continue;
        const ReplacementClass& prev = classes[previous];
        for (uint32_t k = 0; k < kLiteralLengthSymbols; ++k)
            cls.literalDelta[k] += prev.literalDelta[k];
        for (uint32_t k = 0; k < kDistanceSymbolCount; ++k)
            cls.distanceDelta[k] += prev.distanceDelta[k];
        cls.bitBalance += prev.bitBalance;

        for (uint32_t k = 0; k <= kEndOfBlock; ++k)
            f[k] = wlit[k] + cls.literalDelta[k];
        for (uint32_t k = kEndOfBlock + 1; k < kLiteralLengthSymbols; ++k) {
            f[k] = wlit[k] - cls.literalDelta[k];
        }
        for (uint32_t k = 0; k < kDistanceSymbolCount; ++k)
            g[k] = wdist[k] - cls.distanceDelta[k];

        double totalF = 0.0;
        const double sumF = SumNLogN(f, totalF);
        double cost = totalF * std::log(totalF) - sumF;
        double totalG = 0.0;
        const double sumG = SumNLogN(g, totalG);
        if (totalG > 0.0) cost = cost + (totalG * std::log(totalG) - sumG);
        cost = cost / std::log(2.0) - static_cast<double>(cls.bitBalance);
        if (cost < best) {
            best = cost;
            bestClass = t;
            bestF = f;
            bestG = g;
        }
        previous = t;
    }

    // Decide every short match with code lengths estimated for that class.
    CostTables costs = BuildCostTables(bestF, bestG);
    auto match_cost = [&](const ShortMatch& match) {
        return uint32_t{costs.literal[match.length.symbol]} + match.length.extraBits +
               costs.distance[match.distance.symbol] + match.distance.extraBits;
    };
    auto pixel_cost = [&](const ShortMatch& match, uint32_t stopAt) {
        uint32_t cost = 0;
        const uint32_t first = matchPixel_[match.entry];
        for (uint32_t k = 0; k < match.byteLength / kBytesPerPixel && cost < stopAt; ++k) {
            const uint8_t box = boxIndex[first + k];
            cost += boxes.PixelBits(box) + costs.literal[box];
        }
        return cost;
    };
    auto make_pixels = [&](const ShortMatch& match) {
        keepAsMatch_[match.entry] = 0;
        const uint32_t first = matchPixel_[match.entry];
        for (uint32_t k = 0; k < match.byteLength / kBytesPerPixel; ++k)
            wlit[boxIndex[first + k]] += 1;
        wlit[match.length.symbol] -= 1;
        wdist[match.distance.symbol] -= 1;
        counters_.ForPlane(match.plane) -= 1;
    };
    auto make_match = [&](const ShortMatch& match) {
        keepAsMatch_[match.entry] = 1;
        const uint32_t first = matchPixel_[match.entry];
        for (uint32_t k = 0; k < match.byteLength / kBytesPerPixel; ++k)
            wlit[boxIndex[first + k]] -= 1;
        wlit[match.length.symbol] += 1;
        wdist[match.distance.symbol] += 1;
        counters_.ForPlane(match.plane) += 1;
    };
    for (uint32_t i = 0; i < shortMatchCount_; ++i) {
        const ShortMatch match = describe(shortMatches_[i]);
        const uint32_t matchCost = match_cost(match);
        // A tie keeps the match.
        if (pixel_cost(match, matchCost) < matchCost) make_pixels(match);
    }

    // One refinement pass with code lengths of the counts as now decided.
    if (bestClass != kNoReplacementClass) {
        std::array<uint32_t, kLiteralLengthSymbols> literalNow{};
        std::copy_n(wlit.begin(), kLiteralLengthSymbols, literalNow.begin());
        costs = BuildCostTables(literalNow, wdist);
        for (uint32_t i = 0; i < shortMatchCount_; ++i) {
            const ShortMatch match = describe(shortMatches_[i]);
            const uint32_t matchCost = match_cost(match);
            if (keepAsMatch_[match.entry] != 0) {
                if (pixel_cost(match, matchCost) < matchCost) make_pixels(match);
            } else if (pixel_cost(match, UINT32_MAX) > matchCost) {
                make_match(match);
            }
        }
    }

    literalCounts = wlit;
    std::copy(wdist.begin(), wdist.end(), distanceCounts.begin());
}

}  // namespace quenpix
