// Tests of the median edge detector, the context tables and the adaptive model's update rules.
#include "format/context_model.hpp"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace quenpix {
namespace {

struct ContextState {
    int32_t count;
    int32_t biasSum;
    int32_t correction;
};

ContextState StateOf(const ContextModel& model, uint32_t m) {
    return {model.Count(m), model.BiasSum(m), model.Correction(m)};
}

void ExpectState(const ContextModel& model, uint32_t m, ContextState expected) {
    const ContextState got = StateOf(model, m);
    EXPECT_EQ(got.count, expected.count) << "count of context " << m;
    EXPECT_EQ(got.biasSum, expected.biasSum) << "biasSum of context " << m;
    EXPECT_EQ(got.correction, expected.correction) << "correction of context " << m;
}

// Feeds context 0 (all neighbours equal) a sample whose error against the current prediction
// is `error`, wrapping the sample into a byte the way the model folds the error back.
void FeedContextZero(ContextModel& model, int32_t error) {
    const int32_t prediction = model.Correction(0);
    model.Predict(0, 0, 0, 0, static_cast<uint8_t>(prediction + error));
}

TEST(PredictMed, PicksTheEdgeOrTheGradient) {
    EXPECT_EQ(PredictMed(10, 20, 5), 20) << "C below both: the larger neighbour";
    EXPECT_EQ(PredictMed(10, 20, 25), 10) << "C above both: the smaller neighbour";
    EXPECT_EQ(PredictMed(10, 20, 15), 15) << "C between: A + B - C";
    EXPECT_EQ(PredictMed(20, 10, 5), 20) << "order of A and B does not matter";
    EXPECT_EQ(PredictMed(20, 10, 25), 10);
    EXPECT_EQ(PredictMed(10, 20, 20), 10) << "C equal to the maximum counts as above";
    EXPECT_EQ(PredictMed(10, 20, 10), 20) << "C equal to the minimum counts as below";
    EXPECT_EQ(PredictMed(255, 255, 0), 255);
    EXPECT_EQ(PredictMed(0, 255, 1), 254);
}

TEST(GradientCode, BandEdges) {
    const std::map<int32_t, int32_t> expected = {
        {-255, 7}, {-21, 7}, {-20, 5}, {-7, 5}, {-6, 3}, {-3, 3}, {-2, 1}, {-1, 1}, {0, 0},
        {1, 2},    {2, 2},   {3, 4},   {6, 4},  {7, 6},  {20, 6}, {21, 8}, {255, 8}};
    for (const auto& [d, code] : expected)
        EXPECT_EQ(GradientCode(d), code) << "d = " << d;
}

TEST(ContextMap, PairsEveryContextWithItsMirrorUnderOppositeSigns) {
    EXPECT_EQ(ContextMapEntry(0), 0);
    std::vector<int> positive(kContextCount, 0);
    std::vector<int> negative(kContextCount, 0);
    for (uint32_t q = 1; q < 729; ++q) {
        const int32_t e = ContextMapEntry(q);
        ASSERT_NE(e, 0) << "q = " << q << " shares context 0";
        ASSERT_LT(e < 0 ? -e : e, static_cast<int32_t>(kContextCount)) << "q = " << q;
        ++(e < 0 ? negative : positive)[static_cast<size_t>(e < 0 ? -e : e)];
    }
    for (uint32_t m = 1; m < kContextCount; ++m) {
        EXPECT_EQ(positive[m], 1) << "context +" << m;
        EXPECT_EQ(negative[m], 1) << "context -" << m;
    }
    // Numbers are handed out in increasing q; the sign follows the first non-zero code's parity.
    EXPECT_EQ(ContextMapEntry(1), -1);
    EXPECT_EQ(ContextMapEntry(2), 1);
    EXPECT_EQ(ContextMapEntry(3), -2);
    EXPECT_EQ(ContextMapEntry(9), -5);
    EXPECT_EQ(ContextMapEntry(18), 5);
    EXPECT_EQ(ContextMapEntry(10), -6) << "q2 = q3 = 1";
    EXPECT_EQ(ContextMapEntry(20), 6) << "mirror of q = 10";
    EXPECT_EQ(ContextMapEntry(81 * 2 + 1), ContextMapEntry(81 * 1 + 2) * -1);
    EXPECT_EQ(ContextMapEntry(728), -ContextMapEntry(81 * 7 + 9 * 7 + 7));
}

TEST(ContextModel, FirstSampleInContextZeroFromTheInitialState) {
    struct Case {
        uint8_t x;
        ContextState after;
    };
    // X = 200 is an error of 200, folded to -56; X = 128 is not folded (only beyond 128).
    const Case cases[] = {{1, {2, 1, 0}}, {5, {2, 1, 1}}, {200, {2, -1, -1}}, {128, {2, 1, 1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "X = " << int{c.x});
        ContextModel model;
        EXPECT_EQ(model.Predict(0, 0, 0, 0, c.x), 0);
        ExpectState(model, 0, c.after);
        ExpectState(model, 1, {1, 0, 0});
    }
}

TEST(ContextModel, PredictSampleIsPureAndPredictIsSampleThenUpdate) {
    ContextModel model;
    model.Predict(0, 0, 0, 0, 5);  // correction of context 0 becomes 1
    const ContextPrediction p = model.PredictSample(0, 0, 0, 0);
    EXPECT_EQ(p.value, 1);
    EXPECT_EQ(p.context, 0);
    ExpectState(model, 0, {2, 1, 1});

    ContextModel twin;
    twin.Predict(0, 0, 0, 0, 5);
    twin.Update(twin.PredictSample(0, 0, 0, 0), 9);
    EXPECT_EQ(model.Predict(0, 0, 0, 0, 9), 1);
    for (uint32_t m : {0u, 1u}) {
        EXPECT_EQ(model.Count(m), twin.Count(m));
        EXPECT_EQ(model.BiasSum(m), twin.BiasSum(m));
        EXPECT_EQ(model.Correction(m), twin.Correction(m));
    }

    model.Reset();
    ExpectState(model, 0, {1, 0, 0});
}

TEST(ContextModel, NegativeContextsApplyAndLearnTheCorrectionMirrored) {
    ContextModel model;
    // A = 11, B = C = D = 10: C - A = -1 gives q = 1, context -1; MED predicts 11.
    const ContextPrediction first = model.PredictSample(11, 10, 10, 10);
    EXPECT_EQ(first.context, -1);
    EXPECT_EQ(first.value, 11);
    model.Update(first, 5);  // error 11 - 5 = 6 after the sign flip: correction[1] rises
    ExpectState(model, 1, {2, 1, 1});

    EXPECT_EQ(model.PredictSample(11, 10, 10, 10).value, 10) << "context -1 subtracts";
    // The mirror neighbourhood A = 10, B = C = D = 11 is context +1; MED predicts 10.
    const ContextPrediction mirrored = model.PredictSample(10, 11, 11, 11);
    EXPECT_EQ(mirrored.context, 1);
    EXPECT_EQ(mirrored.value, 11) << "context +1 adds";
}

// The prediction from the neighbours reads a per-code copy of the corrections; it must agree
// with the prediction from the context number through every kind of update, saturation included.
TEST(ContextModel, PredictionFromNeighboursAgreesWithPredictionFromContext) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> near(-4, 4);
    ContextModel model;
    bool reachedLow = false;
    bool reachedHigh = false;
    for (int i = 0; i < 200000; ++i) {
        // Mostly small gradients, so that contexts repeat and corrections run to their bounds.
        const auto a = static_cast<uint8_t>(i % 3 == 0 ? byte(random) : 128 + near(random));
        const auto b = static_cast<uint8_t>(a + near(random));
        const auto c = static_cast<uint8_t>(b + near(random));
        const auto d = static_cast<uint8_t>(i % 5 == 0 ? byte(random) : c + near(random));
        const ContextPrediction p = model.PredictSample(a, b, c, d);
        const ContextPrediction q = model.PredictFromContext(p.context, PredictMed(a, b, c));
        ASSERT_EQ(p.value, q.value) << "sample " << i;
        // Errors biased one way for long stretches drive corrections to -128 and 127.
        const int32_t drift = (i / 20000) % 2 == 0 ? 60 : -60;
        model.Update(p, static_cast<uint8_t>(p.value + drift + near(random)));
        const int32_t correction = model.Correction(static_cast<uint32_t>(std::abs(p.context)));
        reachedLow = reachedLow || correction == -128;
        reachedHigh = reachedHigh || correction == 127;
    }
    EXPECT_TRUE(reachedLow && reachedHigh);
}

TEST(ContextModel, AboveCodesAndTheResidualAndDifferenceFormsAgreeWithTheNeighbourForms) {
    // Rows of extremes and near values, so that every gradient band and both ends of -255..255
    // occur, over lengths that end in the middle of a 16-sample block.
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pick(0, 3);
    const auto value = [&](uint8_t near) {
        const int kind = pick(random);
        return static_cast<uint8_t>(kind == 0   ? 0
                                    : kind == 1 ? 255
                                    : kind == 2 ? byte(random)
                                                : near + pick(random));
    };
    for (const size_t left : {size_t{1}, size_t{3}}) {
        const size_t rowBytes = 37 * left;
        // CompleteCodes may read and write up to 15 places past the samples asked for.
        std::vector<uint8_t> plane(3 * rowBytes + 16);
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = value(i == 0 ? 0 : plane[i - 1]);
        const uint8_t* row = plane.data() + 2 * rowBytes;
        const size_t count = rowBytes - 2 * left;
        std::vector<uint16_t> aboveCodes(count + 16);
        std::vector<uint16_t> codes(count + 16);
        std::vector<uint8_t> differences(count + 16);
        ComputeAboveCodes(row + left, rowBytes, left, count, aboveCodes.data());
        CompleteCodes(row + left, rowBytes, left, count, aboveCodes.data(), codes.data(),
                      differences.data());
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* s = row + left + i;
            const int32_t a = s[-static_cast<ptrdiff_t>(left)];
            const int32_t b = s[-static_cast<ptrdiff_t>(rowBytes)];
            const int32_t c = s[-static_cast<ptrdiff_t>(rowBytes + left)];
            const int32_t d = s[static_cast<ptrdiff_t>(left) - static_cast<ptrdiff_t>(rowBytes)];
            ASSERT_EQ(aboveCodes[i], 81 * GradientCode(d - b) + 9 * GradientCode(b - c))
                << "sample " << i << ", " << left << " bytes a pixel";
            ASSERT_EQ(codes[i], aboveCodes[i] + GradientCode(c - a)) << "sample " << i;
            ASSERT_EQ(differences[i], static_cast<uint8_t>(*s - MedianOf(a, b, c)))
                << "sample " << i;
        }
    }

    // Residual 128 folds to +128 or -128 by the prediction; predictions run past both ends.
    ContextModel byNeighbours;
    ContextModel byCodes;
    ContextModel byDifferences;
    const SampleTables tables;
    for (int i = 0; i < 100000; ++i) {
        const uint8_t a = value(128);
        const uint8_t b = value(a);
        const uint8_t c = value(b);
        const uint8_t d = value(c);
        const auto residual = static_cast<uint8_t>(i % 7 == 0 ? 0x80 : value(0));
        const ContextPrediction p = byNeighbours.PredictSample(a, b, c, d);
        const auto aboveCode =
            static_cast<uint32_t>(81 * GradientCode(d - b) + 9 * GradientCode(b - c));
        const CodePrediction q = byCodes.PredictFromAbove(tables, aboveCode, a, b, c);
        ASSERT_EQ(p.value, q.value) << "sample " << i;
        ASSERT_EQ(p.context, ContextMapEntry(q.code)) << "sample " << i;
        const auto x = static_cast<uint8_t>(p.value + residual);
        byNeighbours.Update(p, x);
        byCodes.UpdateFromResidual(tables, q, x, residual);
        const auto difference = static_cast<uint8_t>(x - MedianOf(a, b, c));
        if (!byDifferences.UpdateFromDifference(tables, q.code, difference)) {
            ASSERT_EQ(residual, 0x80) << "sample " << i;
            byDifferences.Update(byDifferences.PredictSample(a, b, c, d), x);
        }
        const auto m = static_cast<uint32_t>(std::abs(p.context));
        for (const ContextModel* model : {&byCodes, &byDifferences}) {
            ASSERT_EQ(model->BiasSum(m), byNeighbours.BiasSum(m)) << "sample " << i;
            ASSERT_EQ(model->Correction(m), byNeighbours.Correction(m)) << "sample " << i;
        }
    }
}

TEST(ContextModel, PredictionIsNotClampedAndTheErrorFolds) {
    ContextModel model;
    model.Predict(0, 0, 0, 0, 5);  // correction of context 0 becomes 1
    const ContextPrediction p = model.PredictSample(255, 255, 255, 255);
    EXPECT_EQ(p.context, 0);
    EXPECT_EQ(p.value, 256) << "255 + correction 1 stays 256";
    // The sample 0 against 256 is an error of -256, folded to 0: the state only counts.
    EXPECT_EQ(model.Predict(255, 255, 255, 255, 0), 0) << "low 8 bits of 256";
    ExpectState(model, 0, {3, 1, 1});
}

TEST(ContextModel, CountHalvesAtSixtyFourAndTheBiasSumRoundsDown) {
    ContextModel model;
    model.Predict(0, 0, 0, 0, 255);  // error 255 folds to -1
    ExpectState(model, 0, {2, -1, 0});
    for (int i = 0; i < 62; ++i)
        model.Predict(0, 0, 0, 0, 0);
    ExpectState(model, 0, {64, -1, 0});
    model.Predict(0, 0, 0, 0, 0);
    // -1 >> 1 is -1 (towards minus infinity), where a division would give 0.
    ExpectState(model, 0, {33, -1, 0});
}

TEST(ContextModel, CorrectionStopsAtItsBounds) {
    ContextModel rising;
    for (int i = 0; i < 2000; ++i)
        FeedContextZero(rising, 100);
    EXPECT_EQ(rising.Correction(0), 127);
    EXPECT_LT(rising.BiasSum(0), rising.Count(0));

    ContextModel falling;
    for (int i = 0; i < 2000; ++i)
        FeedContextZero(falling, -100);
    EXPECT_EQ(falling.Correction(0), -128);
    EXPECT_GT(falling.BiasSum(0), -falling.Count(0));
}

TEST(ContextModel, BiasSumIsPulledBackIntoRangeAfterOneStep) {
    ContextModel model;
    // Error 100 against count 2: one step up leaves 98, which is clamped to n - 1 = 1.
    FeedContextZero(model, 100);
    ExpectState(model, 0, {2, 1, 1});
    // Error -100 from bias 1: -99 <= -3, one step down to -96, clamped to -n + 1 = -2.
    FeedContextZero(model, -100);
    ExpectState(model, 0, {3, -2, 0});
    // Error 2 from -2: 0 lies strictly inside (-4, 4), nothing moves.
    FeedContextZero(model, 2);
    ExpectState(model, 0, {4, 0, 0});
}

}  // namespace
}  // namespace quenpix
