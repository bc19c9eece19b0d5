// The context model's table look-ups for callers outside the hot path, reset, and Predict.
#include "encoder/context_model.hpp"

namespace quenpix {

namespace {

using namespace context_tables;

// Every context number 1..364 is used by exactly two combined codes, with opposite signs.
constexpr bool EveryContextUsedTwice() noexcept {
    std::array<int32_t, kContextCount> positive{};
    std::array<int32_t, kContextCount> negative{};
    for (size_t q = 1; q < kCombinedCodes; ++q) {
        const int32_t e = kContextMap[q];
        if (e == 0 || e >= static_cast<int32_t>(kContextCount) ||
            -e >= static_cast<int32_t>(kContextCount)) {
            return false;
        }
        ++(e < 0 ? negative[static_cast<size_t>(-e)] : positive[static_cast<size_t>(e)]);
    }
    for (size_t m = 1; m < kContextCount; ++m) {
        if (positive[m] != 1 || negative[m] != 1) return false;
    }
    return kContextMap[0] == 0;
}
static_assert(EveryContextUsedTwice());

}  // namespace

int32_t GradientCode(int32_t d) noexcept {
    return Code(d);
}

int32_t ContextMapEntry(uint32_t q) noexcept {
    return kContextMap[q];
}

void ContextModel::Reset() noexcept {
    count_.fill(1);
    biasSum_.fill(0);
    correction_.fill(0);
}

uint8_t ContextModel::Predict(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t x) noexcept {
    const ContextPrediction prediction = PredictSample(a, b, c, d);
    Update(prediction, x);
    return static_cast<uint8_t>(prediction.value);
}

}  // namespace quenpix
