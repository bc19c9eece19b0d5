// The median edge detector and the 365-context adaptive predictor: tables, prediction, update.
#include "encoder/context_model.hpp"

#include <cstdlib>

namespace quenpix {

namespace {

// Neighbour differences run over -255..255; tables are indexed by d + kDifferenceBias.
constexpr int32_t kDifferenceBias = 256;
constexpr size_t kDifferenceEntries = 512;
constexpr size_t kCombinedCodes = 729;

constexpr int32_t GradientCodeOf(int32_t d) noexcept {
    if (d <= -21) return 7;
    if (d <= -7) return 5;
    if (d <= -3) return 3;
    if (d <= -1) return 1;
    if (d == 0) return 0;
    if (d <= 2) return 2;
    if (d <= 6) return 4;
    if (d <= 20) return 6;
    return 8;
}

constexpr std::array<int32_t, kDifferenceEntries> MakeQuantisationTable(int32_t weight) noexcept {
    std::array<int32_t, kDifferenceEntries> table{};
    for (size_t i = 0; i < table.size(); ++i) {
        table[i] = weight * GradientCodeOf(static_cast<int32_t>(i) - kDifferenceBias);
    }
    return table;
}

constexpr std::array<int32_t, kDifferenceEntries> kQuantise81 = MakeQuantisationTable(81);
constexpr std::array<int32_t, kDifferenceEntries> kQuantise9 = MakeQuantisationTable(9);
constexpr std::array<int32_t, kDifferenceEntries> kQuantise1 = MakeQuantisationTable(1);

// The code of the same gradient with its sign flipped.
constexpr int32_t MirrorCode(int32_t code) noexcept {
    if (code == 0) return 0;
    return (code & 1) != 0 ? code + 1 : code - 1;
}

// Pairs each combined code with its mirror under one context number, the sign telling them
// apart; numbers are handed out in increasing q, which fixes every context's index.
constexpr std::array<int32_t, kCombinedCodes> MakeContextMap() noexcept {
    std::array<int32_t, kCombinedCodes> map{};
    int32_t k = 0;
    for (int32_t q = 1; q < static_cast<int32_t>(kCombinedCodes); ++q) {
        if (map[static_cast<size_t>(q)] != 0) continue;
        const int32_t q1 = q / 81;
        const int32_t q2 = (q / 9) % 9;
        const int32_t q3 = q % 9;
        const int32_t leading = q1 != 0 ? q1 : (q2 != 0 ? q2 : q3);
        const int32_t sign = (leading & 1) != 0 ? -1 : 1;
        ++k;
        map[static_cast<size_t>(q)] = sign * k;
        const int32_t mirror = 81 * MirrorCode(q1) + 9 * MirrorCode(q2) + MirrorCode(q3);
        map[static_cast<size_t>(mirror)] = -sign * k;
    }
    return map;
}

constexpr std::array<int32_t, kCombinedCodes> kContextMap = MakeContextMap();

constexpr int32_t kCorrectionMin = -128;
constexpr int32_t kCorrectionMax = 127;
// A context's bias sum is halved when its count reaches this, so old errors fade.
constexpr int32_t kCountLimit = 64;

}  // namespace

int32_t GradientCode(int32_t d) noexcept {
    return GradientCodeOf(d);
}

int32_t ContextMapEntry(uint32_t q) noexcept {
    return kContextMap[q];
}

uint8_t PredictMed(uint8_t a, uint8_t b, uint8_t c) noexcept {
    const uint8_t mx = a > b ? a : b;
    const uint8_t mn = a > b ? b : a;
    if (c >= mx) return mn;
    if (c <= mn) return mx;
    return static_cast<uint8_t>(a + b - c);
}

void ContextModel::Reset() noexcept {
    count_.fill(1);
    biasSum_.fill(0);
    correction_.fill(0);
}

ContextPrediction ContextModel::PredictSample(uint8_t a, uint8_t b, uint8_t c,
                                              uint8_t d) const noexcept {
    const int32_t q = kQuantise81[static_cast<size_t>(d - b + kDifferenceBias)] +
                      kQuantise9[static_cast<size_t>(b - c + kDifferenceBias)] +
                      kQuantise1[static_cast<size_t>(c - a + kDifferenceBias)];
    const int32_t context = kContextMap[static_cast<size_t>(q)];
    const int32_t correction = correction_[static_cast<size_t>(std::abs(context))];
    const int32_t value = PredictMed(a, b, c) + (context < 0 ? -correction : correction);
    return {value, context};
}

void ContextModel::Update(const ContextPrediction& prediction, uint8_t x) noexcept {
    const size_t m = static_cast<size_t>(std::abs(prediction.context));
    int32_t err = x - prediction.value;
    if (prediction.context < 0) err = -err;
    // The prediction is not clamped, so the error may fold past either end of the byte range.
    if (err < -128) {
        err += 256;
    } else if (err > 128) {
        err -= 256;
    }

    int32_t bias = biasSum_[m] + err;
    int32_t n = count_[m];
    if (n == kCountLimit) {
        n = kCountLimit / 2;
        bias >>= 1;  // arithmetic shift: rounds towards minus infinity, as the format requires
    }
    ++n;
    count_[m] = n;

    int32_t& correction = correction_[m];
    if (bias <= -n) {
        if (correction != kCorrectionMin) --correction;
        bias += n;
        if (bias <= -n) bias = -n + 1;
    } else if (bias >= n) {
        if (correction != kCorrectionMax) ++correction;
        bias -= n;
        if (bias >= n) bias = n - 1;
    }
    biasSum_[m] = bias;
}

uint8_t ContextModel::Predict(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t x) noexcept {
    const ContextPrediction prediction = PredictSample(a, b, c, d);
    Update(prediction, x);
    return static_cast<uint8_t>(prediction.value);
}

}  // namespace quenpix
