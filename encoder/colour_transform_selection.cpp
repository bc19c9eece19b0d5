// The colour transform: costs of channel differences, the search for two subtractions, applying.
#include "encoder/colour_transform_selection.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <utility>

#include "encoder/byte_differences.hpp"
#include "image/bitmap_image.hpp"
#include "parallel/parallel_ranges.hpp"

namespace quenpix {

namespace {

constexpr size_t kChannels = 3;
// Bytes a thread takes at least, so that small images stay on one thread.
constexpr size_t kGrainBytes = size_t{1} << 18;

size_t GrainRows(const BitmapImage& image) {
    return kGrainBytes / (kChannels * std::max<size_t>(image.Width(), 1)) + 1;
}

using Histogram = std::array<uint32_t, 256>;

// Histograms of the horizontally differenced scratch plane: each channel alone (u = v) and the
// difference of each pair u < v, indexed [u][v]; entries with u > v stay empty.
using HistogramMatrix = std::array<std::array<Histogram, kChannels>, kChannels>;

void CountChannels(std::span<const uint8_t> scratch, HistogramMatrix& histograms) {
    for (size_t p = 0; p + kChannels <= scratch.size(); p += kChannels) {
        const uint8_t blue = scratch[p];
        const uint8_t green = scratch[p + 1];
        const uint8_t red = scratch[p + 2];
        ++histograms[0][0][blue];
        ++histograms[1][1][green];
        ++histograms[2][2][red];
        ++histograms[0][1][static_cast<uint8_t>(blue - green)];
        ++histograms[0][2][static_cast<uint8_t>(blue - red)];
        ++histograms[1][2][static_cast<uint8_t>(green - red)];
    }
}

// Threads count their own pixels; the counts are then added up, exact in any order.
HistogramMatrix ChannelHistograms(std::span<const uint8_t> scratch, uint32_t threads) {
    HistogramMatrix histograms{};
    std::mutex adding;
    const size_t pixels = scratch.size() / kChannels;
    ForEachRange(threads, pixels, kGrainBytes / kChannels, [&](size_t begin, size_t end) {
        HistogramMatrix counts{};
        CountChannels(scratch.subspan(begin * kChannels, (end - begin) * kChannels), counts);
        const std::lock_guard lock(adding);
        for (size_t u = 0; u < kChannels; ++u) {
            for (size_t v = 0; v < kChannels; ++v) {
                for (size_t k = 0; k < counts[u][v].size(); ++k)
                    histograms[u][v][k] += counts[u][v][k];
            }
        }
    });
    return histograms;
}

void ApplySubtraction(BitmapImage& image, uint8_t target, uint8_t source, size_t firstRow,
                      size_t endRow) {
    const size_t rowBytes = kChannels * image.Width();
    for (size_t r = firstRow; r < endRow; ++r) {
        uint8_t* row = image.RowData(static_cast<uint32_t>(r));
        for (size_t p = 0; p < rowBytes; p += kChannels) {
            row[p + target] = static_cast<uint8_t>(row[p + target] - row[p + source]);
        }
    }
}

}  // namespace

void FillDifferencedScratch(const BitmapImage& image, std::span<uint8_t> scratch,
                            uint32_t threads) {
    // Row and byte counts are size_t: images may exceed 65535 rows or 65535 bytes per row.
    const size_t rowBytes = kChannels * static_cast<size_t>(image.Width());
    ForEachRange(threads, image.Height(), GrainRows(image), [&](size_t firstRow, size_t endRow) {
        // The row above, whose last pixel a row starts against.
        const uint8_t* previous =
            firstRow == 0 ? nullptr : image.RowData(static_cast<uint32_t>(firstRow - 1));
        for (size_t r = firstRow; r < endRow; ++r) {
            const uint8_t* row = image.RowData(static_cast<uint32_t>(r));
            uint8_t* out = scratch.data() + r * rowBytes;
            for (size_t c = 0; c < kChannels; ++c) {
                out[c] = static_cast<uint8_t>(row[c] -
                                              (previous ? previous[rowBytes - kChannels + c] : 0));
            }
            ByteDifferences(row, out, kChannels, kChannels, rowBytes);
            previous = row;
        }
    });
}

uint32_t HistogramBits(std::span<const uint32_t, 256> histogram) noexcept {
    uint64_t total = 0;
    double sum = 0.0;
    for (const uint32_t n : histogram) {
        total += n;
        if (n >= 2) sum += static_cast<double>(n) * std::log(static_cast<double>(n));
    }
    if (total == 0) return 0;
    const double n = static_cast<double>(total);
    const double bits = (n * std::log(n) - sum) / std::log(2.0);
    // Truncated towards zero; only the low 32 bits of the count are kept.
    return static_cast<uint32_t>(static_cast<int64_t>(bits));
}

EntropyMatrix ComputeEntropyMatrix(std::span<const uint8_t> differencedScratch, uint32_t threads) {
    const auto histograms = ChannelHistograms(differencedScratch, threads);
    EntropyMatrix matrix{};
    for (size_t u = 0; u < kChannels; ++u) {
        for (size_t v = 0; v < kChannels; ++v) {
            matrix[u][v] = u <= v ? HistogramBits(histograms[u][v]) : matrix[v][u];
        }
    }
    return matrix;
}

ColourTransform ChooseColourTransform(const EntropyMatrix& m) noexcept {
    // Gains are unsigned 32-bit and compared strictly: among equal gains the first found in
    // this loop order stays, and that decides the cmOd byte.
    uint32_t best = 0;
    ColourTransform chosen{};
    for (uint8_t a = 0; a < kChannels; ++a) {
        for (uint8_t b = 0; b < kChannels; ++b) {
            if (a == b || !(m[a][b] < m[a][a])) continue;
            const uint32_t g = m[a][a] - m[a][b];
            if (g > best) {
                best = g;
                chosen.slots = {a, b, 0, 0};
            }
            // The second slot is tried for every pair that saves bits, not only after a new best.
            for (uint8_t c = a + 1; c < kChannels; ++c) {
                for (uint8_t d = 0; d < kChannels; ++d) {
                    if (d == c || (c == b && d == a) || !(m[c][d] < m[c][c])) continue;
                    const auto g2 = static_cast<uint32_t>(g + (m[c][c] - m[c][d]));
                    if (g2 > best) {
                        best = g2;
                        chosen.slots = {a, b, c, d};
                    }
                }
            }
        }
    }
    return chosen;
}

ColourTransform OrderSubtractions(ColourTransform transform) noexcept {
    // When the first subtraction's target is the second one's source, the second must run
    // first so that it still sees the untransformed channel.
    if (transform.HasSecond() && transform.slots[0] == transform.slots[3]) {
        std::swap(transform.slots[0], transform.slots[2]);
        std::swap(transform.slots[1], transform.slots[3]);
    }
    return transform;
}

void ApplyColourTransform(BitmapImage& image, const ColourTransform& transform, uint32_t threads) {
    if (!transform.HasFirst()) return;
    // Pixels are independent: each range of rows takes both subtractions in turn.
    ForEachRange(threads, image.Height(), GrainRows(image), [&](size_t firstRow, size_t endRow) {
        ApplySubtraction(image, transform.slots[0], transform.slots[1], firstRow, endRow);
        if (transform.HasSecond()) {
            ApplySubtraction(image, transform.slots[2], transform.slots[3], firstRow, endRow);
        }
    });
}

ColourTransform SelectColourTransform(BitmapImage& image, std::span<uint8_t> scratch,
                                      uint32_t threads) {
    const std::span<uint8_t> plane =
        scratch.first(kChannels * static_cast<size_t>(image.Width()) * image.Height());
    FillDifferencedScratch(image, plane, threads);
    const ColourTransform transform =
        OrderSubtractions(ChooseColourTransform(ComputeEntropyMatrix(plane, threads)));
    ApplyColourTransform(image, transform, threads);
    return transform;
}

}  // namespace quenpix
