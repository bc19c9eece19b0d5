// Length and distance codes, and the code-length scan of a block header.
#include "format/deflate_codes.hpp"

#include <vector>

#include <gtest/gtest.h>

#include "stream/block_encoder.hpp"

namespace quenpix {
namespace {

TEST(LengthToCode, ValueCarriesLengthAndPlane) {
    const CodeWithExtra raw258 = LengthToCode(258);
    EXPECT_EQ(raw258.symbol, 285);
    EXPECT_EQ(raw258.extraBits, 0);
    const CodeWithExtra horizontal255 = LengthToCode(257);
    EXPECT_EQ(horizontal255.symbol, 284);
    EXPECT_EQ(horizontal255.extraBits, 5);
    EXPECT_EQ(horizontal255.extraValue, 30);
    EXPECT_EQ(LengthToCode(4).symbol, 258);  // 3-byte vertical match
    for (uint32_t value = 3; value <= 258; ++value) {
        const CodeWithExtra code = LengthToCode(value);
        const uint32_t index = code.symbol - 257;
        EXPECT_EQ(kLengthBase[index] + code.extraValue, value);
        EXPECT_LT(code.extraValue, 1u << kLengthExtraBits[index] | (code.extraBits == 0));
    }
}

TEST(DistanceToCode, EveryDistanceRoundTrips) {
    for (uint32_t distance = 1; distance <= 32768; ++distance) {
        const CodeWithExtra code = DistanceToCode(distance);
        ASSERT_LT(code.symbol, 30);
        ASSERT_EQ(kDistanceBase[code.symbol] + code.extraValue, distance);
        ASSERT_LT(code.extraValue, 1u << code.extraBits) << distance;
    }
    EXPECT_EQ(DistanceToCode(32768).symbol, 29);
    EXPECT_EQ(DistanceToCode(4).symbol, 3);
    EXPECT_EQ(DistanceToCode(5).symbol, 4);
}

struct Op {
    uint32_t symbol;
    uint32_t extraBits;
    uint32_t extraValue;
    bool operator==(const Op&) const = default;
};

std::vector<Op> Scan(const std::vector<uint8_t>& lengths) {
    std::vector<Op> ops;
    ScanCodeLengths(
        [&](uint32_t, uint32_t s, uint32_t b, uint32_t v) {
            ops.push_back({s, b, v});
        },
        lengths);
    return ops;
}

TEST(ScanCodeLengths, ZeroRunsUse17And18OnlyAndNeverRepeatCode16) {
    EXPECT_EQ(Scan(std::vector<uint8_t>(140, 0)),
              (std::vector<Op>{{18, 7, 127}, {0, 0, 0}, {0, 0, 0}}));
    EXPECT_EQ(Scan(std::vector<uint8_t>(3, 0)), (std::vector<Op>{{17, 3, 0}}));
    EXPECT_EQ(Scan(std::vector<uint8_t>(10, 0)), (std::vector<Op>{{17, 3, 7}}));
    EXPECT_EQ(Scan(std::vector<uint8_t>(11, 0)), (std::vector<Op>{{18, 7, 0}}));
    EXPECT_EQ(Scan(std::vector<uint8_t>(2, 0)), (std::vector<Op>{{0, 0, 0}, {0, 0, 0}}));
    EXPECT_EQ(Scan({5, 5, 5, 5, 0, 8}),
              (std::vector<Op>{{5, 0, 0}, {5, 0, 0}, {5, 0, 0}, {5, 0, 0}, {0, 0, 0}, {8, 0, 0}}));
    EXPECT_EQ(Scan(std::vector<uint8_t>(141, 0)), (std::vector<Op>{{18, 7, 127}, {17, 3, 0}}));
}

}  // namespace
}  // namespace quenpix
