// The residual plane: context-model or median residuals of the raw plane, whichever costs less.
#include "encoder/residual_plane.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "format/context_model.hpp"

namespace quenpix {

namespace {

constexpr size_t kChannels = 3;

using Histogram = std::array<uint32_t, 256>;

// Per-channel histograms, summed at the end: consecutive samples then rarely increment the
// same counter, which would chain each increment behind the last one's store.
using ChannelHistograms = std::array<Histogram, kChannels>;

Histogram Merge(const ChannelHistograms& histograms) {
    Histogram merged{};
    for (size_t v = 0; v < merged.size(); ++v) {
        merged[v] = histograms[0][v] + histograms[1][v] + histograms[2][v];
    }
    return merged;
}

// Runs `predict(channel, A, B, C, D, X)` for every plane position p in increasing order, with
// A = raw[p-3], B = raw[p-rowBytes], C = raw[p-rowBytes-3], D = raw[p-rowBytes+3], and counts
// (and with kStore also stores) the residuals. The offsets are fixed in the flat plane, so
// they run across row ends (the last pixel of a row has as D the first pixel of its own row);
// an index below 0 reads as 0. Only the first row and one pixel can reach below 0, so the
// bulk of the plane runs without those checks.
template <bool kStore, typename Predict>
Histogram Residuals(const uint8_t* raw, size_t rowBytes, size_t total, uint8_t* residual,
                    Predict&& predict) {
    ChannelHistograms histograms{};
    const size_t guarded = std::min(total, rowBytes + kChannels);
    const auto before = [raw](size_t p, size_t back) -> uint8_t {
        return p >= back ? raw[p - back] : uint8_t{0};
    };
    for (size_t p = 0; p < guarded; ++p) {
        const uint8_t d = p + kChannels >= rowBytes ? raw[p + kChannels - rowBytes] : uint8_t{0};
        const auto r = static_cast<uint8_t>(
            raw[p] - predict(p % kChannels, before(p, kChannels), before(p, rowBytes),
                             before(p, rowBytes + kChannels), d, raw[p]));
        if constexpr (kStore) residual[p] = r;
        ++histograms[p % kChannels][r];
    }
    const ptrdiff_t up = static_cast<ptrdiff_t>(rowBytes);
    constexpr ptrdiff_t kLeft = static_cast<ptrdiff_t>(kChannels);
    for (size_t p = guarded; p < total; p += kChannels) {
        for (size_t channel = 0; channel < kChannels; ++channel) {
            const uint8_t* s = raw + p + channel;
            const uint8_t x = s[0];
            const auto r = static_cast<uint8_t>(
                x - predict(channel, s[-kLeft], s[-up], s[-up - kLeft], s[kLeft - up], x));
            if constexpr (kStore) residual[p + channel] = r;
            ++histograms[channel][r];
        }
    }
    return Merge(histograms);
}

// The three channel models are independent, so running them interleaved pixel by pixel
// gives the same residuals as one full pass per channel with a fresh model each. Past the first
// row and pixel, the contexts and median predictions are computed a stretch at a time ahead of
// the models' serial updates.
// Both predictors' residual histograms; the context residuals are also stored.
struct ResidualHistograms {
    Histogram context;
    Histogram med;
};

ResidualHistograms ContextAndMedResiduals(const uint8_t* raw, size_t rowBytes, size_t total,
                                          uint8_t* residual);

// Context residuals alone.
Histogram ContextResiduals(const uint8_t* raw, size_t rowBytes, size_t total, uint8_t* residual) {
    return ContextAndMedResiduals(raw, rowBytes, total, residual).context;
}

template <bool kStore>
Histogram MedResiduals(const uint8_t* raw, size_t rowBytes, size_t total, uint8_t* residual) {
    return Residuals<kStore>(raw, rowBytes, total, residual,
                             [](size_t, uint8_t a, uint8_t b, uint8_t c, uint8_t, uint8_t) {
                                 return PredictMed(a, b, c);
                             });
}

ResidualHistograms ContextAndMedResiduals(const uint8_t* raw, size_t rowBytes, size_t total,
                                          uint8_t* residual) {
    std::array<ContextModel, kChannels> models{};
    const size_t guarded = std::min(total, rowBytes + kChannels);
    ResidualHistograms result;
    result.context = Residuals<true>(
        raw, rowBytes, guarded, residual,
        [&models](size_t channel, uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t x) {
            ContextModel& model = models[channel];
            const ContextPrediction prediction = model.PredictSample(a, b, c, d);
            model.Update(prediction, x);
            return static_cast<uint8_t>(prediction.value);
        });
    result.med = MedResiduals<false>(raw, rowBytes, guarded, nullptr);
    // The median prediction comes with each context, so the median residuals are counted in
    // the same pass.
    ChannelHistograms contextCounts{};
    ChannelHistograms medCounts{};
    constexpr size_t kStretch = 3 * 1024;
    std::array<int16_t, kStretch> contexts{};
    std::array<uint8_t, kStretch> medians{};
    for (size_t p = guarded; p < total; p += kStretch) {
        const size_t n = std::min(kStretch, total - p);
        ComputeContexts(raw + p, rowBytes, n, contexts.data(), medians.data());
        for (size_t i = 0; i < n; i += kChannels) {
            for (size_t channel = 0; channel < kChannels; ++channel) {
                ContextModel& model = models[channel];
                const uint8_t x = raw[p + i + channel];
                const uint8_t median = medians[i + channel];
                const ContextPrediction prediction =
                    model.PredictFromContext(contexts[i + channel], median);
                model.Update(prediction, x);
                const auto r = static_cast<uint8_t>(x - prediction.value);
                residual[p + i + channel] = r;
                ++contextCounts[channel][r];
                ++medCounts[channel][static_cast<uint8_t>(x - median)];
            }
        }
    }
    const Histogram contextBody = Merge(contextCounts);
    const Histogram medBody = Merge(medCounts);
    for (size_t v = 0; v < result.context.size(); ++v) {
        result.context[v] += contextBody[v];
        result.med[v] += medBody[v];
    }
    return result;
}

// Sum of n ln n over the counts of at least 2, in byte-value order: the order of the additions
// decides the last bits of the double, and with them ties between the two predictors.
double SumNLogN(const Histogram& histogram) {
    double sum = 0.0;
    for (const uint32_t n : histogram) {
        if (n >= 2) sum += static_cast<double>(n) * std::log(static_cast<double>(n));
    }
    return sum;
}

size_t PlaneBytes(uint32_t rowBytes, uint32_t rows) {
    return static_cast<size_t>(rowBytes) * rows;
}

}  // namespace

bool BuildResidualPlane(std::span<const uint8_t> raw, uint32_t rowBytes, uint32_t rows,
                        std::span<uint8_t> residual) {
    const size_t total = PlaneBytes(rowBytes, rows);
    // One pixel wide, the context model's above-right neighbour is the sample itself.
    if (rowBytes == kChannels) {
        MedResiduals<true>(raw.data(), rowBytes, total, residual.data());
        return false;
    }
    const auto [context, med] =
        ContextAndMedResiduals(raw.data(), rowBytes, total, residual.data());
    // Both planes hold the same number of bytes, so the larger sum is the lower entropy;
    // on equality the context residuals stay.
    if (SumNLogN(med) > SumNLogN(context)) {
        MedResiduals<true>(raw.data(), rowBytes, total, residual.data());
        return false;
    }
    return true;
}

void BuildContextResiduals(std::span<const uint8_t> raw, uint32_t rowBytes, uint32_t rows,
                           std::span<uint8_t> residual) {
    ContextResiduals(raw.data(), rowBytes, PlaneBytes(rowBytes, rows), residual.data());
}

void BuildMedResiduals(std::span<const uint8_t> raw, uint32_t rowBytes, uint32_t rows,
                       std::span<uint8_t> residual) {
    MedResiduals<true>(raw.data(), rowBytes, PlaneBytes(rowBytes, rows), residual.data());
}

}  // namespace quenpix
