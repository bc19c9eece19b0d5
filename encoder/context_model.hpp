// The median edge detector and the 365-context adaptive predictor of one channel.
#pragma once

#include <array>
#include <cstdint>

namespace quenpix {

inline constexpr uint32_t kContextCount = 365;

// Median edge detector on left A, above B and above-left C.
[[nodiscard]] uint8_t PredictMed(uint8_t a, uint8_t b, uint8_t c) noexcept;

// What the model predicts for one sample, before it has seen the sample.
struct ContextPrediction {
    int32_t value;    // the corrected prediction, not clamped (its low 8 bits are the byte)
    int32_t context;  // the signed context number: sign in the sign, index 0..364 in the magnitude
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
    // Feeds the true sample back into the context the prediction used.
    void Update(const ContextPrediction& prediction, uint8_t x) noexcept;
    // Returns the low 8 bits of the prediction for X and updates the model with X.
    uint8_t Predict(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t x) noexcept;

    // State of one context, for tests and diagnostics.
    [[nodiscard]] int32_t Count(uint32_t m) const noexcept { return count_[m]; }
    [[nodiscard]] int32_t BiasSum(uint32_t m) const noexcept { return biasSum_[m]; }
    [[nodiscard]] int32_t Correction(uint32_t m) const noexcept { return correction_[m]; }

private:
    std::array<int32_t, kContextCount> count_{};
    std::array<int32_t, kContextCount> biasSum_{};
    std::array<int32_t, kContextCount> correction_{};
};

// GradientCode of a neighbour difference d in -255..255: 0..8, negative d odd, positive even.
[[nodiscard]] int32_t GradientCode(int32_t d) noexcept;
// The signed context number of the combined code q = 81 g1 + 9 g2 + g3, q in 0..728.
[[nodiscard]] int32_t ContextMapEntry(uint32_t q) noexcept;

}  // namespace quenpix
