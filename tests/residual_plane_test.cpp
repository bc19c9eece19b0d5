// Tests of the residual plane: neighbour offsets, the per-channel models and the predictor choice.
#include "encoder/residual_plane.hpp"

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "format/context_model.hpp"

namespace quenpix {
namespace {

using Plane = std::vector<uint8_t>;

Plane PseudoRandomPlane(size_t bytes, uint32_t seed) {
    Plane plane(bytes);
    uint32_t state = seed;
    for (uint8_t& b : plane) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return plane;
}

// A smooth picture with a little noise, so that context and median residuals differ.
Plane SmoothPlane(uint32_t width, uint32_t rows) {
    Plane plane(static_cast<size_t>(3) * width * rows);
    const Plane noise = PseudoRandomPlane(plane.size(), 7);
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t x = 0; x < 3 * width; ++x) {
            const size_t p = static_cast<size_t>(r) * 3 * width + x;
            plane[p] = static_cast<uint8_t>(2 * r + x + (noise[p] & 3) + 40 * (x % 3));
        }
    }
    return plane;
}

// The residuals as the format describes them, one full pass per channel with a fresh model and
// every neighbour index checked, to hold the fast interleaved version to.
Plane ContextResidualsChannelByChannel(const Plane& raw, size_t rowBytes) {
    Plane residual(raw.size());
    const auto at = [&raw](int64_t index) -> uint8_t {
        return index < 0 ? uint8_t{0} : raw[static_cast<size_t>(index)];
    };
    const auto stride = static_cast<int64_t>(rowBytes);
    ContextModel model;
    for (int64_t channel = 0; channel < 3; ++channel) {
        for (int64_t p = channel; p < static_cast<int64_t>(raw.size()); p += 3) {
            const uint8_t x = raw[static_cast<size_t>(p)];
            const uint8_t predicted =
                model.Predict(at(p - 3), at(p - stride), at(p - stride - 3), at(p - stride + 3), x);
            residual[static_cast<size_t>(p)] = static_cast<uint8_t>(x - predicted);
        }
        model.Reset();
    }
    return residual;
}

// The plane behind a run of non-zero bytes, so that a read before its start shows up as a wrong
// neighbour rather than as a lucky zero.
constexpr size_t kFrontGuard = 16;

Plane BehindGuard(const Plane& plane) {
    Plane guarded(kFrontGuard, 0xA5);
    guarded.insert(guarded.end(), plane.begin(), plane.end());
    return guarded;
}

std::span<const uint8_t> PlaneOf(const Plane& guarded) {
    return std::span(guarded).subspan(kFrontGuard);
}

double SumNLogN(const Plane& plane) {
    std::vector<uint32_t> histogram(256, 0);
    for (const uint8_t b : plane)
        ++histogram[b];
    double sum = 0.0;
    for (const uint32_t n : histogram) {
        if (n >= 2) sum += n * std::log(static_cast<double>(n));
    }
    return sum;
}

size_t FirstDifference(const Plane& a, const Plane& b) {
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return i;
    }
    return a.size();
}

TEST(ResidualPlane, ContextResidualsMatchOneFreshModelPerChannel) {
    struct Shape {
        uint32_t width;
        uint32_t rows;
    };
    for (const Shape shape : {Shape{7, 5}, Shape{2, 9}, Shape{13, 1}, Shape{1, 6}, Shape{64, 40}}) {
        SCOPED_TRACE(::testing::Message() << shape.width << " x " << shape.rows);
        const size_t rowBytes = 3 * size_t{shape.width};
        for (const Plane& raw : {PseudoRandomPlane(rowBytes * shape.rows, shape.width),
                                 SmoothPlane(shape.width, shape.rows)}) {
            const Plane guarded = BehindGuard(raw);
            Plane residual(raw.size(), 0xEE);
            BuildContextResiduals(PlaneOf(guarded), static_cast<uint32_t>(rowBytes), shape.rows,
                                  residual);
            const Plane expected = ContextResidualsChannelByChannel(raw, rowBytes);
            EXPECT_EQ(FirstDifference(residual, expected), raw.size())
                << "first differing plane position";
        }
    }
}

TEST(ResidualPlane, MedResidualsUseTheFlatOffsetsAcrossRowEnds) {
    // 2 x 3 image: every position of row 1 and 2 has its A from the row end above.
    const uint32_t rowBytes = 6;
    const Plane raw = {10, 20, 30, 40, 50, 60,  //
                       15, 25, 35, 90, 80, 70,  //
                       11, 22, 33, 44, 55, 66};
    const Plane guarded = BehindGuard(raw);
    Plane residual(raw.size());
    BuildMedResiduals(PlaneOf(guarded), rowBytes, 3, residual);
    const auto med = [&](size_t p) {
        const auto at = [&](size_t back) { return p >= back ? raw[p - back] : uint8_t{0}; };
        return static_cast<uint8_t>(raw[p] - PredictMed(at(3), at(rowBytes), at(rowBytes + 3)));
    };
    for (size_t p = 0; p < raw.size(); ++p)
        EXPECT_EQ(residual[p], med(p)) << "position " << p;
    // Spot values: p = 6 has A = raw[3] = 40, B = raw[0] = 10, C = 0, so the prediction is 40.
    EXPECT_EQ(residual[6], static_cast<uint8_t>(15 - 40));
    EXPECT_EQ(residual[0], 10);
}

TEST(ResidualPlane, FirstByteOfEachChannelIsItsOwnResidual) {
    const Plane raw = PseudoRandomPlane(3 * 5 * 4, 99);
    Plane context(raw.size());
    Plane med(raw.size());
    BuildContextResiduals(raw, 15, 4, context);
    BuildMedResiduals(raw, 15, 4, med);
    for (size_t p = 0; p < 3; ++p) {
        EXPECT_EQ(context[p], raw[p]) << "context residual at " << p;
        EXPECT_EQ(med[p], raw[p]) << "median residual at " << p;
    }
}

TEST(ResidualPlane, FlatGreyImagePrefersTheMedianResiduals) {
    const uint32_t width = 4;
    const uint32_t rows = 3;
    const uint32_t rowBytes = 3 * width;
    const Plane raw(rowBytes * rows, 128);

    Plane context(raw.size());
    BuildContextResiduals(raw, rowBytes, rows, context);
    // The first sample of each channel (error 128) lifts context 0's correction to 1, so every
    // sample in context 0 from the second pixel of row 1 on is predicted as 129.
    for (size_t p = 0; p < 3; ++p)
        EXPECT_EQ(context[p], 128) << "position " << p;
    for (size_t p = rowBytes + 3; p < raw.size(); ++p) {
        EXPECT_EQ(context[p], 255) << "position " << p;
    }

    Plane residual(raw.size());
    EXPECT_FALSE(BuildResidualPlane(raw, rowBytes, rows, residual)) << "median should win";
    for (size_t p = 0; p < raw.size(); ++p) {
        EXPECT_EQ(residual[p], p < 3 ? 128 : 0) << "median residual at " << p;
    }
}

TEST(ResidualPlane, EqualCostsKeepTheContextResiduals) {
    // Two pixels in one row: the second pixel has A = D (the first pixel) and B = C = 0, a fresh
    // context with no correction, so both predictors give the same residuals.
    const Plane raw = {9, 70, 200, 13, 1, 250};
    Plane context(raw.size());
    Plane med(raw.size());
    BuildContextResiduals(raw, 6, 1, context);
    BuildMedResiduals(raw, 6, 1, med);
    ASSERT_EQ(context, med);

    Plane residual(raw.size());
    EXPECT_TRUE(BuildResidualPlane(raw, 6, 1, residual));
    EXPECT_EQ(residual, context);
}

TEST(ResidualPlane, OnePixelWideImagesAlwaysTakeTheMedianResiduals) {
    // A column that steps up or down by 7..20 at random: the context model sees the sample
    // itself as its above-right neighbour, so the context tells the step's sign and the model
    // learns the mean step. It would win the comparison, but no decoder could rebuild that, so
    // the median residuals (the steps themselves) are kept.
    const uint32_t rows = 2000;
    Plane raw(3 * rows);
    uint32_t state = 5;
    int32_t value = 100;
    for (size_t p = 0; p < raw.size(); p += 3) {
        state = state * 1664525u + 1013904223u;
        const auto size = static_cast<int32_t>(7 + (state >> 8) % 14);
        int32_t step = (state >> 31) != 0 ? size : -size;
        if (value + step < 20 || value + step > 230) step = -step;
        value += step;
        raw[p] = raw[p + 1] = raw[p + 2] = static_cast<uint8_t>(value);
    }
    Plane context(raw.size());
    Plane med(raw.size());
    BuildContextResiduals(raw, 3, rows, context);
    BuildMedResiduals(raw, 3, rows, med);
    ASSERT_GT(SumNLogN(context), SumNLogN(med)) << "the column no longer favours the model";

    Plane residual(raw.size(), 0xEE);
    EXPECT_FALSE(BuildResidualPlane(raw, 3, rows, residual));
    EXPECT_EQ(residual, med);

    const Plane single = {1, 2, 3};
    Plane singleResidual(3);
    EXPECT_FALSE(BuildResidualPlane(single, 3, 1, singleResidual)) << "1 x 1 image";
    EXPECT_EQ(singleResidual, single);
}

TEST(ResidualPlane, EmptyPlaneKeepsTheContextModel) {
    const Plane raw;
    Plane residual;
    EXPECT_TRUE(BuildResidualPlane(raw, 0, 0, residual));
    EXPECT_TRUE(BuildResidualPlane(raw, 6, 0, residual));
}

}  // namespace
}  // namespace quenpix
