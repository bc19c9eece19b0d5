// The context model's table look-ups for callers outside the hot path, reset, and Predict.
#include "format/context_model.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace {

// The gradient code by comparisons rather than a table, so that whole rows vectorise: negative
// differences get odd codes, positive ones even codes.
inline int16_t CodeOf(int16_t d) noexcept {
    const int16_t steps = static_cast<int16_t>((d >= 1) + (d >= 3) + (d >= 7) + (d >= 21) +
                                               (d <= -1) + (d <= -3) + (d <= -7) + (d <= -21));
    return static_cast<int16_t>(2 * steps - (d < 0));
}

}  // namespace

void ComputeContexts(const uint8_t* samples, size_t rowBytes, size_t count, int16_t* contexts,
                     uint8_t* medians) noexcept {
    const uint8_t* left = samples - 3;
    const uint8_t* above = samples - rowBytes;
    const uint8_t* aboveLeft = samples - rowBytes - 3;
    const uint8_t* aboveRight = samples - rowBytes + 3;
    for (size_t i = 0; i < count; ++i) {
        const int16_t a = left[i];
        const int16_t b = above[i];
        const int16_t c = aboveLeft[i];
        const int16_t d = aboveRight[i];
        contexts[i] = static_cast<int16_t>(81 * CodeOf(static_cast<int16_t>(d - b)) +
                                           9 * CodeOf(static_cast<int16_t>(b - c)) +
                                           CodeOf(static_cast<int16_t>(c - a)));
        const int16_t low = a < b ? a : b;
        const int16_t high = a < b ? b : a;
        const int16_t gradient = static_cast<int16_t>(a + b - c);
        const int16_t clamped = gradient < high ? gradient : high;
        medians[i] = static_cast<uint8_t>(clamped > low ? clamped : low);
    }
    for (size_t i = 0; i < count; ++i) {
        contexts[i] = static_cast<int16_t>(kContextMap[static_cast<size_t>(contexts[i])]);
    }
}

#if defined(__SSE2__)

namespace {

// The gradient codes of x - y in 16 byte lanes: twice the thresholds 1, 3, 7 and 21 that |x - y|
// reaches, less one where x < y.
inline __m128i CodesOf(__m128i x, __m128i y) noexcept {
    const __m128i one = _mm_set1_epi8(1);
    const __m128i above = _mm_subs_epu8(x, y);
    const __m128i below = _mm_subs_epu8(y, x);
    const __m128i magnitude = _mm_or_si128(above, below);
    __m128i steps = _mm_min_epu8(magnitude, one);
    steps = _mm_add_epi8(steps, _mm_min_epu8(_mm_subs_epu8(magnitude, _mm_set1_epi8(2)), one));
    steps = _mm_add_epi8(steps, _mm_min_epu8(_mm_subs_epu8(magnitude, _mm_set1_epi8(6)), one));
    steps = _mm_add_epi8(steps, _mm_min_epu8(_mm_subs_epu8(magnitude, _mm_set1_epi8(20)), one));
    return _mm_sub_epi8(_mm_add_epi8(steps, steps), _mm_min_epu8(below, one));
}

// 9 x (9 g1 + g2) for eight 16-bit lanes of 9 g1 + g2.
inline __m128i TimesNine(__m128i v) noexcept {
    return _mm_add_epi16(_mm_slli_epi16(v, 3), v);
}

}  // namespace

#endif

void ComputeAboveCodes(const uint8_t* samples, size_t rowBytes, size_t left, size_t count,
                       uint16_t* codes) noexcept {
    const uint8_t* above = samples - rowBytes;
    const uint8_t* aboveLeft = above - left;
    const uint8_t* aboveRight = above + left;
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen samples at a time in byte lanes: codes are 0..8, and 9 g1 + g2 is at most 80.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(aboveLeft + i));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(aboveRight + i));
        const __m128i g1 = CodesOf(d, b);
        const __m128i g2 = CodesOf(b, c);
        // g1 < 32, so shifting 16-bit lanes moves nothing across bytes.
        const __m128i partial = _mm_add_epi8(_mm_add_epi8(_mm_slli_epi16(g1, 3), g1), g2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i),
                         TimesNine(_mm_unpacklo_epi8(partial, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i + 8),
                         TimesNine(_mm_unpackhi_epi8(partial, zero)));
    }
#endif
    for (; i < count; ++i) {
        const int16_t b = above[i];
        const int16_t c = aboveLeft[i];
        const int16_t d = aboveRight[i];
        codes[i] = static_cast<uint16_t>(81 * CodeOf(static_cast<int16_t>(d - b)) +
                                         9 * CodeOf(static_cast<int16_t>(b - c)));
    }
}

void CompleteCodes(const uint8_t* samples, size_t rowBytes, size_t left, size_t count,
                   const uint16_t* aboveCodes, uint16_t* codes, uint8_t* differences) noexcept {
    const uint8_t* leftOf = samples - left;
    const uint8_t* above = samples - rowBytes;
    const uint8_t* aboveLeft = above - left;
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen samples at a time in byte lanes, the last block whole. Where C lies strictly
    // between the smaller and the larger of A and B, A + B - C does too, so the median is exact
    // in bytes.
    const __m128i zero = _mm_setzero_si128();
    for (; i < count; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(leftOf + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(aboveLeft + i));
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
        const __m128i low = _mm_min_epu8(a, b);
        const __m128i high = _mm_max_epu8(a, b);
        const __m128i atLeastHigh = _mm_cmpeq_epi8(_mm_max_epu8(c, high), c);
        const __m128i atMostLow = _mm_cmpeq_epi8(_mm_min_epu8(c, low), c);
        const __m128i gradient = _mm_sub_epi8(_mm_add_epi8(low, high), c);
        __m128i median = _mm_or_si128(_mm_and_si128(atMostLow, high),
                                      _mm_andnot_si128(atMostLow, gradient));
        median = _mm_or_si128(_mm_and_si128(atLeastHigh, low),
                              _mm_andnot_si128(atLeastHigh, median));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(differences + i), _mm_sub_epi8(x, median));
        const __m128i g3 = CodesOf(c, a);
        const __m128i lowCodes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(aboveCodes + i));
        const __m128i highCodes =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(aboveCodes + i + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i),
                         _mm_add_epi16(lowCodes, _mm_unpacklo_epi8(g3, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i + 8),
                         _mm_add_epi16(highCodes, _mm_unpackhi_epi8(g3, zero)));
    }
#endif
    for (; i < count; ++i) {
        const int32_t a = leftOf[i];
        const int32_t c = aboveLeft[i];
        codes[i] = static_cast<uint16_t>(aboveCodes[i] + CodeOf(static_cast<int16_t>(c - a)));
        differences[i] = static_cast<uint8_t>(samples[i] - MedianOf(a, above[i], c));
    }
}

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
    signedCorrection_.fill(0);
}

uint8_t ContextModel::Predict(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t x) noexcept {
    const ContextPrediction prediction = PredictSample(a, b, c, d);
    Update(prediction, x);
    return static_cast<uint8_t>(prediction.value);
}

}  // namespace quenpix
