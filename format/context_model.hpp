// The median edge detector and the 365-context adaptive predictor of one channel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "format/context_tables.hpp"

namespace quenpix {

inline constexpr uint32_t kContextCount = context_tables::kContextNumbers;

// Median edge detector on left A, above B and above-left C.
[[nodiscard]] inline uint8_t PredictMed(uint8_t a, uint8_t b, uint8_t c) noexcept;

// What the model predicts for one sample, before it has seen the sample.
struct ContextPrediction {
    int32_t value;    // the corrected prediction, not clamped (its low 8 bits are the byte)
    int32_t context;  // the signed context number: sign in the sign, index 0..364 in the magnitude
};

// A prediction from the row above's code part: the value as above, and the combined code
// q = 81 g1 + 9 g2 + g3 it came from, which names the context and its sign.
struct CodePrediction {
    int32_t value;
    uint32_t code;
};

// The tables a decoder's per-sample steps read, for it to keep beside its models: read through
// the object that holds the models, they need no register of their own in its loop.
struct SampleTables {
    // The gradient code g3 of C - A, at C - A + kBias.
    std::array<uint8_t, context_tables::kDifferences> quantise1 = [] {
        std::array<uint8_t, context_tables::kDifferences> table{};
        for (size_t i = 0; i < table.size(); ++i)
            table[i] = static_cast<uint8_t>(context_tables::kQuantise1[i]);
        return table;
    }();
    // Per combined code, its context number's magnitude, and its sign as a factor, 1 or -1: a
    // multiply with the factor in memory costs the loop one instruction.
    std::array<uint16_t, context_tables::kCombinedCodes> contextOf = [] {
        std::array<uint16_t, context_tables::kCombinedCodes> table{};
        for (size_t q = 0; q < table.size(); ++q)
            table[q] = static_cast<uint16_t>(std::abs(context_tables::kContextMap[q]));
        return table;
    }();
    std::array<int32_t, context_tables::kCombinedCodes> signOf = [] {
        std::array<int32_t, context_tables::kCombinedCodes> table{};
        for (size_t q = 0; q < table.size(); ++q)
            table[q] = context_tables::kContextMap[q] < 0 ? -1 : 1;
        return table;
    }();
};

// One channel's adaptive model. Prediction and update are separate calls, so that a decoder
// runs the same model before it knows the sample; Predict() is the two together.
class ContextModel final {
  public:
    ContextModel() noexcept { Reset(); }

    // Every count to 1, every bias sum and correction to 0.
    void Reset() noexcept;

    // The prediction for a sample with neighbours left A, above B, above-left C, above-right D.
    [[nodiscard]] ContextPrediction PredictSample(uint8_t a, uint8_t b, uint8_t c,
                                                  uint8_t d) const noexcept;
    // The same from the sample's context number and median prediction, computed beforehand.
    [[nodiscard]] ContextPrediction PredictFromContext(int32_t context,
                                                       int32_t median) const noexcept {
        const int32_t correction =
            correction_[static_cast<size_t>(context < 0 ? -context : context)];
        return {median + (context < 0 ? -correction : correction), context};
    }
    // The same from `aboveCode`, the part of the combined code that the row above fixes
    // (81 g1 + 9 g2, from ComputeAboveCodes), so that only the left neighbour's part is left.
    // The neighbours are bytes, 0..255, in wider types that a decoding loop keeps them in.
    [[nodiscard]] CodePrediction PredictFromAbove(const SampleTables& tables, uint32_t aboveCode,
                                                  uint32_t a, uint32_t b,
                                                  uint32_t c) const noexcept;
    // Feeds the true sample back into the context the prediction used.
    void Update(const ContextPrediction& prediction, uint8_t x) noexcept;
    // The same for a decoder that knows the residual byte that made X: the error is that byte,
    // signed, so it needs no arithmetic on X.
    void UpdateFromResidual(const SampleTables& tables, const CodePrediction& prediction,
                            uint8_t x, uint32_t residual) noexcept;
    // The same for a known sample from its combined code and its difference from the median
    // prediction, modulo 256 (from CompleteCodes). Returns false, having learnt nothing, when
    // the error is 128 either way, which that difference cannot tell apart: the caller then
    // updates from the neighbours.
    [[nodiscard]] bool UpdateFromDifference(const SampleTables& tables, uint32_t code,
                                            uint32_t difference) noexcept;
    // Returns the low 8 bits of the prediction for X and updates the model with X.
    uint8_t Predict(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t x) noexcept;

    // State of one context, for tests and diagnostics.
    [[nodiscard]] int32_t Count(uint32_t m) const noexcept { return count_[m]; }
    [[nodiscard]] int32_t BiasSum(uint32_t m) const noexcept { return biasSum_[m]; }
    [[nodiscard]] int32_t Correction(uint32_t m) const noexcept { return correction_[m]; }

  private:
    // Learns the residual byte of a sample with combined code `code`, read as signed: the
    // error for any residual but 128.
    void LearnResidual(const SampleTables& tables, uint32_t code, uint32_t residual) noexcept;
    // Adds the error `err` (-128..128, sign already applied) to context m.
    void Learn(size_t m, int32_t err) noexcept;
    void SetCorrection(size_t m, int32_t correction) noexcept {
        correction_[m] = correction;
        // Context 0 has one code, 0, both entries: the positive one is written last.
        const context_tables::ContextCodes codes = context_tables::kCodesOfContext[m];
        signedCorrection_[static_cast<size_t>(codes.negative)] = -correction;
        signedCorrection_[static_cast<size_t>(codes.positive)] = correction;
    }

    std::array<int32_t, kContextCount> count_{};
    std::array<int32_t, kContextCount> biasSum_{};
    std::array<int32_t, kContextCount> correction_{};
    // The correction as each combined code applies it (negated for negative contexts), kept
    // beside correction_ so that a prediction from the neighbours needs no context-map look-up
    // on its way: that look-up lies on the chain from one sample to the next.
    std::array<int32_t, context_tables::kCombinedCodes> signedCorrection_{};

    static constexpr int32_t kCorrectionMin = -128;
    static constexpr int32_t kCorrectionMax = 127;
    // A context's bias sum is halved when its count reaches this, so old errors fade.
    static constexpr int32_t kCountLimit = 64;
};

// The signed context numbers and median predictions of `count` consecutive samples from
// `samples`, whose neighbours (left, above, above-left, above-right at the flat offsets) all lie
// in the plane. They depend on the image only, so they are computed ahead of the serial model
// updates, many samples at a time.
void ComputeContexts(const uint8_t* samples, size_t rowBytes, size_t count, int16_t* contexts,
                     uint8_t* medians) noexcept;
// The parts 81 g1 + 9 g2 of the combined codes of `count` consecutive samples from `samples`,
// which depend on the row above only (above, above-left and above-right, `left` bytes apart).
// A decoder computes them for a whole row before the row's serial work.
void ComputeAboveCodes(const uint8_t* samples, size_t rowBytes, size_t left, size_t count,
                       uint16_t* codes) noexcept;

// The combined codes of `count` consecutive samples from `samples`, whose parts from the row
// above are at `aboveCodes`, and each sample less its median prediction, modulo 256. A decoder
// computes them for samples a match has copied, whose models still have to learn them.
// Works in whole blocks of 16 samples: reads samples and above codes, and writes codes and
// differences, up to 15 places past `count`.
void CompleteCodes(const uint8_t* samples, size_t rowBytes, size_t left, size_t count,
                   const uint16_t* aboveCodes, uint16_t* codes, uint8_t* differences) noexcept;
// GradientCode of a neighbour difference d in -255..255: 0..8, negative d odd, positive even.
[[nodiscard]] int32_t GradientCode(int32_t d) noexcept;
// The signed context number of the combined code q = 81 g1 + 9 g2 + g3, q in 0..728.
[[nodiscard]] int32_t ContextMapEntry(uint32_t q) noexcept;

// The per-sample work is defined here so that the residual-plane loop can inline it.

// PredictMed on bytes held in 32 bits.
[[nodiscard]] inline int32_t MedianOf(int32_t a, int32_t b, int32_t c) noexcept {
    // Written without branches: which neighbour is larger is as unpredictable as the image.
    // The result is the median of A, B and A + B - C.
    const int32_t diff = a - b;
    const int32_t lower = diff & (diff >> 31);  // a - b where a < b, else 0
    const int32_t mn = b + lower;
    const int32_t mx = a - lower;
    const int32_t gradient = a + b - c;
    const int32_t clamped = gradient < mx ? gradient : mx;
    return clamped > mn ? clamped : mn;
}

inline uint8_t PredictMed(uint8_t a, uint8_t b, uint8_t c) noexcept {
    return static_cast<uint8_t>(MedianOf(a, b, c));
}

inline ContextPrediction ContextModel::PredictSample(uint8_t a, uint8_t b, uint8_t c,
                                                     uint8_t d) const noexcept {
    using namespace context_tables;
    const int32_t q = kQuantise81[static_cast<size_t>(d - b + kBias)] +
                      kQuantise9[static_cast<size_t>(b - c + kBias)] +
                      kQuantise1[static_cast<size_t>(c - a + kBias)];
    return {PredictMed(a, b, c) + signedCorrection_[static_cast<size_t>(q)],
            kContextMap[static_cast<size_t>(q)]};
}

inline CodePrediction ContextModel::PredictFromAbove(const SampleTables& tables,
                                                     uint32_t aboveCode, uint32_t a, uint32_t b,
                                                     uint32_t c) const noexcept {
    // A signed index, so that the bias joins the table's displacement.
    const uint32_t q = aboveCode + tables.quantise1[static_cast<size_t>(
                                       context_tables::kBias + static_cast<ptrdiff_t>(c) -
                                       static_cast<ptrdiff_t>(a))];
    return {MedianOf(static_cast<int32_t>(a), static_cast<int32_t>(b), static_cast<int32_t>(c)) +
                signedCorrection_[q],
            q};
}

inline void ContextModel::Update(const ContextPrediction& prediction, uint8_t x) noexcept {
    int32_t err = x - prediction.value;
    if (prediction.context < 0) err = -err;
    // The prediction is not clamped, so the error may fold past either end of the byte range.
    if (err < -128) {
        err += 256;
    } else if (err > 128) {
        err -= 256;
    }
    Learn(static_cast<size_t>(std::abs(prediction.context)), err);
}

inline void ContextModel::UpdateFromResidual(const SampleTables& tables,
                                             const CodePrediction& prediction, uint8_t x,
                                             uint32_t residual) noexcept {
    using namespace context_tables;
    // X - prediction is the residual modulo 256, and folded into -128..128 it is the residual
    // read as signed, except for 128, which folds to +128 or -128 by the prediction.
    if (residual == 0x80) [[unlikely]] {
        Update({prediction.value, kContextMap[prediction.code]}, x);
        return;
    }
    LearnResidual(tables, prediction.code, residual);
}

inline bool ContextModel::UpdateFromDifference(const SampleTables& tables, uint32_t code,
                                               uint32_t difference) noexcept {
    const uint32_t residual = (difference - static_cast<uint32_t>(signedCorrection_[code])) & 0xFF;
    if (residual == 0x80) [[unlikely]]
        return false;
    LearnResidual(tables, code, residual);
    return true;
}

inline void ContextModel::LearnResidual(const SampleTables& tables, uint32_t code,
                                        uint32_t residual) noexcept {
    const int32_t err = static_cast<int8_t>(static_cast<uint8_t>(residual));
    Learn(tables.contextOf[code], err * tables.signOf[code]);
}

// The branches below are kept on purpose: a branch-free form chains every sample behind the
// previous update of its context and measured slower.
inline void ContextModel::Learn(size_t m, int32_t err) noexcept {
    int32_t bias = biasSum_[m] + err;
    int32_t n = count_[m];
    if (n == kCountLimit) {
        n = kCountLimit / 2;
        bias >>= 1;  // rounds towards minus infinity; a division would turn -1 into 0
    }
    ++n;
    count_[m] = n;

    // Mostly -n < bias < n, which one unsigned comparison tells: n is at least 2.
    if (static_cast<uint32_t>(bias + n - 1) >= static_cast<uint32_t>(2 * n - 1)) [[unlikely]] {
        int32_t& correction = correction_[m];
        if (bias <= -n) {
            if (correction != kCorrectionMin) SetCorrection(m, correction - 1);
            bias += n;
            if (bias <= -n) bias = -n + 1;
        } else {
            if (correction != kCorrectionMax) SetCorrection(m, correction + 1);
            bias -= n;
            if (bias >= n) bias = n - 1;
        }
    }
    biasSum_[m] = bias;
}

}  // namespace quenpix
