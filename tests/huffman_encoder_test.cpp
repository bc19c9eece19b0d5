// Tests of the Huffman code builder: fixed cases, the shape of every code it makes, and agreement
// of the fast builder with the step-by-step one.
#include "stream/huffman_encoder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "image/exceptions.hpp"
#include "stream/huffman_reference.hpp"

namespace quenpix {
namespace {

constexpr uint32_t kSymbols = PngHuffmanEncoder::kSymbolCount;

[[nodiscard]] HuffmanCounts CountsOf(const std::vector<uint32_t>& leading) {
    HuffmanCounts counts{};
    std::copy(leading.begin(), leading.end(), counts.begin());
    return counts;
}

[[nodiscard]] std::vector<uint32_t> Fibonacci(size_t n) {
    std::vector<uint32_t> numbers = {1, 1};
    while (numbers.size() < n)
        numbers.push_back(numbers.end()[-1] + numbers.end()[-2]);
    return numbers;
}

[[nodiscard]] PngHuffmanEncoder BuiltFrom(const HuffmanCounts& counts, uint32_t maxLength) {
    PngHuffmanEncoder encoder;
    encoder.Frequencies() = counts;
    encoder.BuildTable(maxLength);
    return encoder;
}

// The code of `symbol` in the order the bit writer sends it, which is the canonical code read
// from its most significant bit: the stored code is mirrored, so its bit 0 goes first.
[[nodiscard]] std::string SentBits(const PngHuffmanEncoder& encoder, uint32_t symbol) {
    uint16_t code = 0;
    uint8_t length = 0;
    encoder.Encode(symbol, code, length);
    std::string bits;
    for (uint32_t i = 0; i < length; ++i)
        bits += ((code >> i) & 1U) != 0 ? '1' : '0';
    return bits;
}

[[nodiscard]] std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EPngError& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

[[nodiscard]] std::vector<uint32_t> LeadingLengths(const PngHuffmanEncoder& encoder, size_t n) {
    return {encoder.CodeLengths().begin(), encoder.CodeLengths().begin() + n};
}

// Everything a build leaves behind, including a failure's message.
struct BuildResult {
    HuffmanLengths lengths{};
    HuffmanCodes codes{};
    HuffmanCounts leftover{};
    std::string error;
};

[[nodiscard]] BuildResult BuildFast(const HuffmanCounts& counts, uint32_t maxLength) {
    PngHuffmanEncoder encoder;
    encoder.Frequencies() = counts;
    BuildResult result;
    try {
        encoder.BuildTable(maxLength);
    } catch (const EPngError& error) {
        result.error = error.what();
    }
    result.lengths = encoder.CodeLengths();
    result.codes = encoder.Codes();
    result.leftover = encoder.Frequencies();
    return result;
}

[[nodiscard]] BuildResult BuildStepByStep(const HuffmanCounts& counts, uint32_t maxLength) {
    BuildResult result;
    result.leftover = counts;
    try {
        BuildTableReference(result.leftover, result.lengths, result.codes, maxLength);
    } catch (const EPngError& error) {
        result.error = error.what();
    }
    return result;
}

[[nodiscard]] std::string Describe(const BuildResult& build, uint32_t symbol) {
    return std::to_string(build.lengths[symbol]) + "/" + std::to_string(build.codes[symbol]) + "/" +
           std::to_string(build.leftover[symbol]);
}

// Returns the first difference between two builds, or "" when they agree.
[[nodiscard]] std::string Difference(const BuildResult& fast, const BuildResult& reference) {
    if (fast.error != reference.error)
        return "error '" + fast.error + "' vs '" + reference.error + "'";
    if (fast.lengths == reference.lengths && fast.codes == reference.codes &&
        fast.leftover == reference.leftover) {
        return "";
    }
    for (uint32_t s = 0; s < kSymbols; ++s) {
        if (Describe(fast, s) != Describe(reference, s)) {
            return "symbol " + std::to_string(s) + " length/code/leftover count " +
                   Describe(fast, s) + " vs " + Describe(reference, s);
        }
    }
    return "";
}

[[nodiscard]] std::string CompareBuilders(const HuffmanCounts& counts, uint32_t maxLength) {
    return Difference(BuildFast(counts, maxLength), BuildStepByStep(counts, maxLength));
}

// The least possible total of count * length, from any optimal merge order.
[[nodiscard]] uint64_t OptimalCost(const HuffmanCounts& counts) {
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> queue;
    for (const uint32_t count : counts) {
        if (count != 0) queue.push(count);
    }
    uint64_t cost = 0;
    while (queue.size() > 1) {
        const uint64_t a = queue.top();
        queue.pop();
        const uint64_t b = queue.top();
        queue.pop();
        cost += a + b;
        queue.push(a + b);
    }
    return cost;
}

// Count sets of the kinds the block encoder makes, plus ties, steep runs and sparse alphabets.
class CountMaker {
  public:
    explicit CountMaker(uint32_t seed) : random_(seed) {}

    // Any shape, including counts whose trees are deeper than any limit can repair.
    [[nodiscard]] HuffmanCounts Anything(uint32_t alphabet) {
        HuffmanCounts counts{};
        const uint32_t kind = Uniform(0, 4);
        const uint32_t density = Uniform(1, 100);
        for (uint32_t s = 0; s < alphabet; ++s) {
            if (Uniform(1, 100) > density) continue;
            switch (kind) {
                // Mostly ties.
                case 0:
                    counts[s] = Uniform(1, 3);
                    break;
                case 1:
                    counts[s] = Uniform(1, 65535);
                    break;
                // Equal counts at many scales.
                case 2:
                    counts[s] = 1U << Uniform(0, 20);
                    break;
                // Deep trees that need limiting, or that cannot be limited.
                case 3:
                    counts[s] = steep_[Uniform(0, 27)] + Uniform(0, 1);
                    break;
                default:
                    counts[s] = Uniform(0, 1) == 0 ? 1 : Uniform(1, 20000);
                    break;
            }
        }
        return counts;
    }

    // `samples` symbols spread over the alphabet with geometrically falling shares, like one
    // block's counts; the total stays below samples + alphabet, which bounds the tree depth.
    [[nodiscard]] HuffmanCounts Block(uint32_t alphabet, uint32_t samples) {
        std::vector<uint32_t> rank(alphabet);
        for (uint32_t s = 0; s < alphabet; ++s)
            rank[s] = s;
        std::shuffle(rank.begin(), rank.end(), random_);
        const double ratio = Uniform(30, 95) / 100.0;
        // Coarse steps give runs of equal counts.
        const uint32_t step = Uniform(1, 4);
        const uint32_t density = Uniform(20, 100);
        std::vector<double> weight(alphabet, 0.0);
        double total = 0.0;
        for (uint32_t s = 0; s < alphabet; ++s) {
            if (Uniform(1, 100) > density) continue;
            weight[s] = std::pow(ratio, static_cast<double>(rank[s] / step));
            total += weight[s];
        }
        HuffmanCounts counts{};
        for (uint32_t s = 0; s < alphabet; ++s) {
            if (weight[s] == 0.0) continue;
            counts[s] = static_cast<uint32_t>(samples * weight[s] / total) + Uniform(0, 1);
        }
        return counts;
    }

    [[nodiscard]] uint32_t Uniform(uint32_t low, uint32_t high) {
        return std::uniform_int_distribution<uint32_t>(low, high)(random_);
    }

  private:
    std::mt19937 random_;
    std::vector<uint32_t> steep_ = Fibonacci(28);
};

TEST(HuffmanEncoder, NothingCountedLeavesEveryLengthZeroAndEncodeFails) {
    for (const uint32_t maxLength : {7U, 15U}) {
        const PngHuffmanEncoder encoder = BuiltFrom(HuffmanCounts{}, maxLength);
        for (uint32_t s = 0; s < kSymbols; ++s) {
            ASSERT_EQ(encoder.CodeLengths()[s], 0) << "symbol " << s;
        }
        for (const uint32_t symbol : {0U, 256U, 287U}) {
            uint16_t code = 0;
            uint8_t length = 0;
            EXPECT_EQ(MessageOf([&] { encoder.Encode(symbol, code, length); }),
                      "INTERNAL ERROR - Missing Huffman Code")
                << "symbol " << symbol;
        }
    }
}

TEST(HuffmanEncoder, SingleSymbolGetsOneBitCodeZero) {
    for (const uint32_t symbol : {0U, 18U, 256U, 287U}) {
        HuffmanCounts counts{};
        counts[symbol] = 12345;
        const PngHuffmanEncoder encoder = BuiltFrom(counts, 15);
        EXPECT_EQ(SentBits(encoder, symbol), "0") << "symbol " << symbol;
        EXPECT_EQ(std::count(encoder.CodeLengths().begin(), encoder.CodeLengths().end(), 0),
                  kSymbols - 1)
            << "only symbol " << symbol << " may have a code";
    }
}

TEST(HuffmanEncoder, TwoEqualCountsGetOneBitEachLowerSymbolFirst) {
    HuffmanCounts counts{};
    counts[5] = 40;
    counts[200] = 40;
    const PngHuffmanEncoder encoder = BuiltFrom(counts, 15);
    EXPECT_EQ(SentBits(encoder, 5), "0");
    EXPECT_EQ(SentBits(encoder, 200), "1");
}

TEST(HuffmanEncoder, FibonacciCountsAreLimitedToSevenBits) {
    const HuffmanCounts counts = CountsOf(Fibonacci(10));
    const PngHuffmanEncoder unlimited = BuiltFrom(counts, 15);
    EXPECT_EQ(LeadingLengths(unlimited, 10), (std::vector<uint32_t>{9, 9, 8, 7, 6, 5, 4, 3, 2, 1}));

    const PngHuffmanEncoder limited = BuiltFrom(counts, 7);
    EXPECT_EQ(LeadingLengths(limited, 10), (std::vector<uint32_t>{7, 7, 7, 7, 6, 6, 4, 3, 2, 1}));
    const std::vector<std::string> expected = {"1111100", "1111101", "1111110", "1111111", "111100",
                                               "111101",  "1110",    "110",     "10",      "0"};
    for (uint32_t s = 0; s < expected.size(); ++s) {
        EXPECT_EQ(SentBits(limited, s), expected[s]) << "symbol " << s;
    }
    // The stored form is the mirror image, ready for a least-significant-bit-first writer.
    EXPECT_EQ(limited.Codes()[0], 0b0011111);
    EXPECT_EQ(limited.Codes()[5], 0b101111);
    EXPECT_EQ(limited.Codes()[7], 0b011);
    EXPECT_EQ(CompareBuilders(counts, 7), "");
}

TEST(HuffmanEncoder, EqualCountsMergeTheLaterSymbolFirst) {
    EXPECT_EQ(LeadingLengths(BuiltFrom(CountsOf({1, 1, 2, 3, 5}), 15), 5),
              (std::vector<uint32_t>{4, 4, 3, 2, 1}));
    // Here the tie decides the shape: merging the earlier symbol first would give 2, 3, 3, 1.
    EXPECT_EQ(LeadingLengths(BuiltFrom(CountsOf({2, 1, 1, 2}), 15), 4),
              (std::vector<uint32_t>{1, 3, 3, 2}));
    EXPECT_EQ(CompareBuilders(CountsOf({2, 1, 1, 2}), 15), "");
}

TEST(HuffmanEncoder, OutOfRangeSymbolsThrowTheirOwnMessages) {
    PngHuffmanEncoder encoder;
    EXPECT_EQ(MessageOf([&] { encoder.IncrementFrequency(288); }), "Index out of range");
    EXPECT_EQ(MessageOf([&] { encoder.IncrementFrequency(0xFFFFFFFFU); }), "Index out of range");
    encoder.IncrementFrequency(287);
    encoder.IncrementFrequency(0);
    encoder.BuildTable(15);
    uint16_t code = 0;
    uint8_t length = 0;
    EXPECT_EQ(MessageOf([&] { encoder.Encode(288, code, length); }), "Index Out of Range");
    encoder.Encode(287, code, length);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(length, 1);
}

TEST(HuffmanEncoder, BuildConsumesTheCountsAndResetStartsAfresh) {
    PngHuffmanEncoder encoder;
    for (int i = 0; i < 3; ++i)
        encoder.IncrementFrequency(10);
    encoder.IncrementFrequency(11);
    encoder.IncrementFrequency(12);
    const HuffmanCounts before = encoder.Frequencies();
    encoder.BuildTable(15);
    EXPECT_NE(encoder.Frequencies(), before);
    EXPECT_EQ(LeadingLengths(encoder, 13)[10], 1U);

    encoder.Reset();
    EXPECT_EQ(encoder.Frequencies(), HuffmanCounts{});
    encoder.IncrementFrequency(3);
    encoder.IncrementFrequency(4);
    encoder.BuildTable(7);
    EXPECT_EQ(LeadingLengths(encoder, 13),
              (std::vector<uint32_t>{0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(HuffmanEncoder, CountsOutsideTheDesignFailWithInternalErrors) {
    HuffmanCounts all{};
    all.fill(1);
    EXPECT_EQ(BuildFast(all, 15).error, "INTERNAL ERROR - Too many codes defined");

    // Unlimited sizes beyond 2 * maxLength - 1.
    for (const uint32_t maxLength : {7U, 15U}) {
        EXPECT_EQ(BuildFast(CountsOf(Fibonacci(40)), maxLength).error.rfind("INTERNAL ERROR", 0),
                  0U)
            << "maxLength " << maxLength;
    }
    // More symbols than seven bits can number.
    HuffmanCounts wide{};
    std::fill(wide.begin(), wide.begin() + 200, 9);
    EXPECT_EQ(BuildFast(wide, 7).error, "INTERNAL ERROR - Too many codes defined");
    EXPECT_EQ(BuildFast(CountsOf({1, 2}), 16).error, "INTERNAL ERROR - Invalid Huffman Range");
    EXPECT_EQ(BuildFast(CountsOf({1, 2}), 0).error, "INTERNAL ERROR - Invalid Huffman Range");
}

TEST(HuffmanEncoder, RandomCountsGiveCompleteCanonicalLimitedCodes) {
    CountMaker maker(20240611);
    for (int round = 0; round < 1500; ++round) {
        const uint32_t maxLength = round % 3 == 0 ? 7 : 15;
        // Totals as the block encoder's: at most 316 code-length counts, under 131072 others.
        const HuffmanCounts counts =
            maxLength == 7 ? maker.Block(19, maker.Uniform(2, 297))
                           : maker.Block(maker.Uniform(2, 286), maker.Uniform(2, 65000));
        const auto counted =
            std::count_if(counts.begin(), counts.end(), [](uint32_t c) { return c != 0; });
        if (counted < 2) continue;
        const PngHuffmanEncoder encoder = BuiltFrom(counts, maxLength);
        SCOPED_TRACE("round " + std::to_string(round) + ", maxLength " + std::to_string(maxLength));

        uint64_t kraft = 0;
        uint64_t cost = 0;
        uint32_t longest = 0;
        std::vector<uint32_t> lengthCount(16, 0);
        for (uint32_t s = 0; s < kSymbols; ++s) {
            const uint32_t length = encoder.CodeLengths()[s];
            ASSERT_EQ(length == 0, counts[s] == 0) << "symbol " << s;
            ASSERT_LE(length, maxLength) << "symbol " << s;
            if (length == 0) continue;
            kraft += uint64_t{1} << (15 - length);
            cost += uint64_t{counts[s]} * length;
            longest = std::max(longest, length);
            ++lengthCount[length];
        }
        ASSERT_EQ(kraft, uint64_t{1} << 15) << "the code is not complete";
        // Unless limiting cut it short, the code must be optimal.
        const uint64_t optimal = OptimalCost(counts);
        if (longest < maxLength) {
            ASSERT_EQ(cost, optimal);
        }
        ASSERT_GE(cost, optimal);

        // Canonical numbering computed from the lengths alone; codes of one length therefore
        // increase with the symbol number.
        std::vector<uint32_t> nextCode(16, 0);
        for (uint32_t length = 1, code = 0; length <= 15; ++length) {
            code = (code + lengthCount[length - 1]) << 1;
            nextCode[length] = code;
        }
        for (uint32_t s = 0; s < kSymbols; ++s) {
            const uint32_t length = encoder.CodeLengths()[s];
            if (length == 0) continue;
            std::string expected;
            const uint32_t code = nextCode[length]++;
            for (uint32_t bit = length; bit-- > 0;)
                expected += ((code >> bit) & 1U) ? '1' : '0';
            ASSERT_EQ(SentBits(encoder, s), expected) << "symbol " << s;
        }
    }
}

TEST(HuffmanEncoder, FastBuilderMatchesStepByStepBuilder) {
    // Fixed cases first: empty, single symbols, the full alphabet and the edges of the design.
    std::vector<std::pair<HuffmanCounts, uint32_t>> cases;
    cases.emplace_back(HuffmanCounts{}, 15);
    cases.emplace_back(CountsOf({0, 0, 7}), 7);
    HuffmanCounts last{};
    last[287] = 1;
    cases.emplace_back(last, 15);
    HuffmanCounts all{};
    all.fill(3);
    cases.emplace_back(all, 15);
    HuffmanCounts allButOne = all;
    allButOne[0] = 0;
    cases.emplace_back(allButOne, 15);
    HuffmanCounts huge{};  // merged counts wrap past 32 bits in the step-by-step builder
    huge.fill(0xFFFFFFF0U);
    cases.emplace_back(huge, 15);
    for (const size_t length : {14U, 15U, 16U, 29U, 30U, 31U, 45U}) {
        const HuffmanCounts steep = CountsOf(Fibonacci(length));
        cases.emplace_back(steep, 7);
        cases.emplace_back(steep, 15);
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(CompareBuilders(cases[i].first, cases[i].second), "")
            << "fixed case " << i << ", maxLength " << cases[i].second;
    }

    CountMaker maker(7);
    const std::vector<uint32_t> alphabets = {1, 2, 3, 19, 30, 31, 129, 256, 286, 288};
    int built = 0;
    std::array<int, 16> limited{};
    for (int round = 0; round < 4000; ++round) {
        const uint32_t maxLength = round % 2 == 0 ? 7 : 15;
        const uint32_t alphabet = alphabets[maker.Uniform(0, alphabets.size() - 1)];
        const uint32_t samples = maker.Uniform(1, maxLength == 7 ? 2000 : 300000);
        const HuffmanCounts counts =
            round % 4 < 2 ? maker.Anything(alphabet) : maker.Block(alphabet, samples);
        const BuildResult result = BuildFast(counts, maxLength);
        ASSERT_EQ(Difference(result, BuildStepByStep(counts, maxLength)), "")
            << "round " << round << ", alphabet " << alphabet << ", maxLength " << maxLength;
        if (!result.error.empty()) continue;
        ++built;
        uint64_t cost = 0;
        for (uint32_t s = 0; s < kSymbols; ++s)
            cost += uint64_t{counts[s]} * result.lengths[s];
        if (cost > OptimalCost(counts)) ++limited[maxLength];
    }
    // Count sets that the fast builder declines go to the step-by-step one, so only built sets
    // compare two different builders: make sure they are common, and so are limited ones.
    EXPECT_GT(built, 2000);
    EXPECT_GT(limited[7], 200);
    EXPECT_GT(limited[15], 200);
}

}  // namespace
}  // namespace quenpix
