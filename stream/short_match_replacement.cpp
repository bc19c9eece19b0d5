// Per block, writes matches of one to three pixels as box-coded pixels where that is cheaper.
#include <array>
#include <cmath>

#include "format/deflate_codes.hpp"
#include "stream/block_encoder.hpp"
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

void BlockEncoder::ReplaceShortMatches(BlockPlan& plan) const {
    auto& literalCounts = plan.literalLength.Frequencies();
    auto& distanceCounts = plan.distance.Frequencies();
    std::array<uint32_t, PngHuffmanEncoder::kSymbolCount> wlit = literalCounts;
    std::array<uint32_t, kDistanceSymbolCount> wdist{};
    std::copy_n(distanceCounts.begin(), kDistanceSymbolCount, wdist.begin());

    // Everything the passes below need of a short match was gathered with the block.
    const std::span<const ShortMatch> matches(plan.shortMatches.data(), plan.shortMatchCount);
    std::array<ReplacementClass, kClassCount> classes{};
    for (const ShortMatch& match : matches) {
        // What replacing the short matches of each size would change in the counts and bits.
        ReplacementClass& cls = classes[match.pixels * kBytesPerPixel];
        cls.present = true;
        for (uint32_t k = 0; k < match.pixels; ++k) {
            cls.literalDelta[match.boxes[k]] += 1;
            cls.bitBalance -= static_cast<int32_t>(pixelBits_[match.boxes[k]]);
        }
        cls.literalDelta[match.lengthSymbol] += 1;
        cls.distanceDelta[match.distanceSymbol] += 1;
        cls.bitBalance += match.extraBits;
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

    // Decide every short match with code lengths estimated for that class. A match costs its
    // two codes and their extra bits; its pixels cost their box symbols and offset bits.
    CostTables costs = BuildCostTables(bestF, bestG);
    std::array<uint32_t, kMaxColourBoxes> pixelCost{};
    auto price_pixels = [&] {
        for (uint32_t b = 0; b < kMaxColourBoxes; ++b)
            pixelCost[b] = pixelBits_[b] + costs.literal[b];
    };
    auto match_cost = [&](const ShortMatch& match) {
        return uint32_t{costs.literal[match.lengthSymbol]} + costs.distance[match.distanceSymbol] +
               match.extraBits;
    };
    // Summed over all pixels: whether the sum is below the match's cost does not depend on
    // stopping once it no longer is.
    auto pixels_cost = [&](const ShortMatch& match) {
        uint32_t cost = 0;
        for (uint32_t k = 0; k < match.pixels; ++k)
            cost += pixelCost[match.boxes[k]];
        return cost;
    };
    // Moves a match to pixels (direction 1) or back to a match (-1), or leaves it (0). Always
    // applied: which way the decision goes is as unpredictable as the image.
    auto move = [&](const ShortMatch& match, int32_t direction) {
        const auto delta = static_cast<uint32_t>(direction);
        plan.keepAsMatch[match.entry] =
            static_cast<uint8_t>(plan.keepAsMatch[match.entry] - direction);
        for (uint32_t k = 0; k < match.pixels; ++k)
            wlit[match.boxes[k]] += delta;
        wlit[match.lengthSymbol] -= delta;
        wdist[match.distanceSymbol] -= delta;
        plan.counters.ForPlane(match.plane) -= delta;
    };
    price_pixels();
    for (const ShortMatch& match : matches) {
        // A tie keeps the match.
        move(match, pixels_cost(match) < match_cost(match) ? 1 : 0);
    }

    // One refinement pass with code lengths of the counts as now decided.
    if (bestClass != kNoReplacementClass) {
        std::array<uint32_t, kLiteralLengthSymbols> literalNow{};
        std::copy_n(wlit.begin(), kLiteralLengthSymbols, literalNow.begin());
        costs = BuildCostTables(literalNow, wdist);
        price_pixels();
        for (const ShortMatch& match : matches) {
            const uint32_t matchCost = match_cost(match);
            const uint32_t pixelCost = pixels_cost(match);
            const bool asMatch = plan.keepAsMatch[match.entry] != 0;
            move(match,
                 asMatch ? (pixelCost < matchCost ? 1 : 0) : (pixelCost > matchCost ? -1 : 0));
        }
    }

    literalCounts = wlit;
    std::copy(wdist.begin(), wdist.end(), distanceCounts.begin());
}

}  // namespace quenpix
