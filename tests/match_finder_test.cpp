// The match search: token list, pixel links, plane selection, end-of-image cut and the window.
#include "stream/match_finder.hpp"

#include <vector>

#include <gtest/gtest.h>

#include "search_planes_support.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

using testing::Noise;
using testing::Planes;

struct Result {
    std::vector<uint16_t> tokens;
    std::vector<uint32_t> linked;  // pixels of PixelLinks in list order
};

Result FindAll(const Planes& planes, const MatchSettings& settings, bool differences = true) {
    const uint32_t pixels = planes.total / 3;
    std::vector<uint16_t> tokens(2 * pixels);
    std::vector<uint32_t> links(pixels, 0xDEADBEEF);
    MatchSettings s = settings;
    s.useVerticalPlane = s.useHorizontalPlane = differences;
    MatchFinder finder(planes.Search(differences), s);
    tokens.resize(finder.FindMatches(tokens));
    LinkListedPixels(tokens, settings.replaceShortMatches, links);
    Result result{tokens, {0}};
    for (uint32_t p = links[0]; p != 0; p = links[p])
        result.linked.push_back(p);
    return result;
}

TEST(FindMatches, LevelZeroGivesOneLiteralPerPixelAndLinksEveryPixel) {
    std::vector<uint8_t> flat(3 * 50, 9);
    const Result result = FindAll(Planes(flat, 30), {0, true, true, true});
    EXPECT_EQ(result.tokens, std::vector<uint16_t>(50, 0));
    ASSERT_EQ(result.linked.size(), 50u);
    for (uint32_t p = 0; p < 50; ++p)
        EXPECT_EQ(result.linked[p], p);
}

TEST(FindMatches, RunOfIdenticalPixelsBecomesDistanceOneMatchesOf258Bytes) {
    // 200 equal pixels: a literal, then 86 + 86 + 27 pixels at distance 1 in the raw plane.
    std::vector<uint8_t> flat(3 * 200, 77);
    const Result result = FindAll(Planes(flat, 3 * 200), {128, true, true, true});
    EXPECT_EQ(result.tokens, (std::vector<uint16_t>{0, 258 + 256, 1, 258 + 256, 1, 81 + 256, 1}));
    EXPECT_EQ(result.linked, std::vector<uint32_t>{0});
}

TEST(FindMatches, MatchEndsAtTheLastPixelNotInTheZeroTail) {
    // Zero pixels: the comparison would run on into the zero tail.
    std::vector<uint8_t> zeros(3 * 5, 0);
    const Result result = FindAll(Planes(zeros, 15), {128, true, true, true}, false);
    EXPECT_EQ(result.tokens, (std::vector<uint16_t>{0, 12 + 256, 1}));
}

TEST(FindMatches, ShortMatchPixelsAreLinkedUnlessReplacementIsOff) {
    // Pixels A B A B C ...: pixels 2 and 3 repeat pixels 0 and 1 (a 6-byte match).
    std::vector<uint8_t> bytes = Noise(8, 5);
    std::copy_n(bytes.begin(), 6, bytes.begin() + 6);
    const Result on = FindAll(Planes(bytes, 24), {128, true, true, true}, false);
    EXPECT_EQ(on.tokens, (std::vector<uint16_t>{0, 0, 6 + 256, 2, 0, 0, 0, 0}));
    EXPECT_EQ(on.linked, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    const Result off = FindAll(Planes(bytes, 24), {128, true, true, false}, false);
    EXPECT_EQ(off.tokens, on.tokens);
    EXPECT_EQ(off.linked, (std::vector<uint32_t>{0, 1, 4, 5, 6, 7}));
}

TEST(FindMatches, RawOnlySearchGivesLengthsThatAreMultiplesOfThree) {
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; i < 3000; ++i)
        bytes.push_back(static_cast<uint8_t>((i / 7) % 5 * 40));
    const Result result = FindAll(Planes(bytes, 300), {128, true, true, true}, false);
    bool sawMatch = false;
    for (size_t i = 0; i < result.tokens.size(); ++i) {
        if (result.tokens[i] == 0) continue;
        sawMatch = true;
        EXPECT_EQ((result.tokens[i] - 256) % 3, 0) << "token " << i;
        ++i;
    }
    EXPECT_TRUE(sawMatch);
}

TEST(FindMatches, DifferencePlaneMatchOf258BytesBecomes255) {
    // A horizontal ramp: every pixel differs from its left neighbour by the same step, so only
    // the horizontal plane repeats.
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; i < 400; ++i) {
        bytes.push_back(static_cast<uint8_t>(i * 3));
        bytes.push_back(static_cast<uint8_t>(i * 5));
        bytes.push_back(static_cast<uint8_t>(i * 7));
    }
    const Result result = FindAll(Planes(bytes, 1200), {128, true, true, true});
    // Pixel 0 and 1 are literals (pixel 1's difference is new); then 255-byte horizontal
    // matches (value 257) at distance 1.
    ASSERT_GE(result.tokens.size(), 4u);
    EXPECT_EQ(result.tokens[0], 0);
    EXPECT_EQ(result.tokens[1], 0);
    EXPECT_EQ(result.tokens[2], 255 + 2 + 256);
    EXPECT_EQ(result.tokens[3], 1);
}

TEST(ChooseMatch, LongerOrEquallyLongAndStrictlyNearerWins) {
    Match best{12, 5};
    uint32_t plane = kRawPlane;
    EXPECT_FALSE(ChooseMatch(best, plane, {12, 5}, kVerticalPlane));
    EXPECT_FALSE(ChooseMatch(best, plane, {9, 1}, kVerticalPlane));
    EXPECT_FALSE(ChooseMatch(best, plane, {0, 0}, kVerticalPlane));
    EXPECT_EQ(plane, kRawPlane);
    EXPECT_TRUE(ChooseMatch(best, plane, {12, 4}, kVerticalPlane));
    EXPECT_EQ(plane, kVerticalPlane);
    EXPECT_TRUE(ChooseMatch(best, plane, {15, 9}, kHorizontalPlane));
    EXPECT_EQ(best.length, 15u);
    EXPECT_EQ(plane, kHorizontalPlane);

    // A 258-byte difference match beats a 255-byte raw match, and is cut to 255.
    Match raw{255, 1};
    uint32_t rawPlane = kRawPlane;
    EXPECT_TRUE(ChooseMatch(raw, rawPlane, {258, 700}, kHorizontalPlane));
    EXPECT_EQ(raw.length, 255u);
    EXPECT_EQ(raw.distance, 700u);
}

TEST(FindMatches, WindowReachesExactly32768PixelsBack) {
    // A noise image with a 40-pixel segment repeated 32768 pixels later (in reach) and again
    // 32769 pixels after a second copy of a different segment (out of reach).
    const uint32_t pixels = 70000;
    std::vector<uint8_t> bytes = Noise(pixels, 99);
    const std::vector<uint8_t> near = Noise(40, 1);
    const std::vector<uint8_t> far = Noise(40, 2);
    std::copy(near.begin(), near.end(), bytes.begin() + 3 * 100);
    std::copy(near.begin(), near.end(), bytes.begin() + 3 * (100 + 32768));
    std::copy(far.begin(), far.end(), bytes.begin() + 3 * 1000);
    std::copy(far.begin(), far.end(), bytes.begin() + 3 * (1000 + 32769));
    const Result result =
        FindAll(Planes(bytes, 3 * 1000), {kUnboundedChain, true, true, true}, false);
    uint32_t pixel = 0;
    bool sawNear = false;
    for (size_t i = 0; i < result.tokens.size(); ++i) {
        if (result.tokens[i] == 0) {
            ++pixel;
            continue;
        }
        const uint32_t length = result.tokens[i] - 256u;
        const uint32_t distance = result.tokens[++i];
        EXPECT_LE(distance, 32768u);
        if (pixel == 100 + 32768) {
            EXPECT_EQ(length, 120u);
            EXPECT_EQ(distance, 32768u);
            sawNear = true;
        }
        EXPECT_FALSE(pixel >= 1000 + 32769 && pixel < 1000 + 32769 + 40 && length > 9)
            << "match of " << length << " bytes at pixel " << pixel << " from beyond the window";
        pixel += length / 3;
    }
    EXPECT_TRUE(sawNear);
    EXPECT_EQ(pixel, pixels);
}

TEST(CompareStrings, RejectsAtBestAndCapsAt258) {
    std::vector<uint8_t> plane(3 * 200 + kPlaneTail, 4);
    EXPECT_EQ(CompareStrings(plane.data(), 0, 0, 0), 0u);   // position 0 has no history
    EXPECT_EQ(CompareStrings(plane.data(), 3, -3, 0), 0u);  // negative candidate
    EXPECT_EQ(CompareStrings(plane.data(), 3, 0, 0), 258u);
    plane[3 + 9] = 5;
    EXPECT_EQ(CompareStrings(plane.data(), 3, 0, 9), 0u);   // differs at best
    EXPECT_EQ(CompareStrings(plane.data(), 3, 0, 15), 9u);  // agrees at best, not before
    EXPECT_EQ(CompareStrings(plane.data(), 3, 0, 0), 9u);
}

}  // namespace
}  // namespace quenpix

namespace quenpix {
namespace {

using testing::Noise;
using testing::Planes;

// Images whose planes stress the chain walk: few distinct values, long repeats, flat areas and
// noise, wider than the window so that nodes are reused.
std::vector<uint8_t> StressImage(uint32_t kind, uint32_t pixels) {
    std::vector<uint8_t> bytes(3 * pixels);
    uint32_t seed = 7 + kind;
    auto next = [&seed] {
        seed = seed * 1664525 + 1013904223;
        return seed >> 24;
    };
    for (uint32_t i = 0; i < 3 * pixels; ++i) {
        switch (kind) {
            case 0:  // two values: every walk is long
                bytes[i] = static_cast<uint8_t>(next() & 1);
                break;
            case 1:  // a few colours in runs
                bytes[i] = i % 3 == 0 && next() < 40 ? static_cast<uint8_t>(next() & 3)
                                                     : bytes[i >= 3 ? i - 3 : i];
                break;
            case 2:  // smooth ramps with noise: difference planes near zero
                bytes[i] = static_cast<uint8_t>((i / 3) % 97 + (next() & 1));
                break;
            default:  // copies of earlier stretches at random distances
                bytes[i] = i > 300 && next() < 200 ? bytes[i - 3 * (1 + next() % 90)]
                                                   : static_cast<uint8_t>(next());
                break;
        }
    }
    return bytes;
}

TEST(FindLongestMatch, JumpingWalkFindsWhatThePlainWalkFinds) {
    // A million searches on one thread: minutes under ThreadSanitizer, which has nothing to find.
    if (testing::kThreadSanitizer) GTEST_SKIP() << "single-threaded; run in the other builds";
    for (uint32_t kind = 0; kind < 4; ++kind) {
        const Planes planes(StressImage(kind, 34000), 3 * 200);
        for (const uint32_t chain : {1u, 7u, 128u, kUnboundedChain}) {
            MatchFinder finder(planes.Search(true), {chain, true, true, true});
            uint32_t mismatches = 0;
            for (uint32_t pos = 0; pos < planes.total; pos += 3) {
                for (uint32_t plane = kRawPlane; plane <= kHorizontalPlane; ++plane) {
                    const Match fast = finder.FindLongestMatch(plane, pos);
                    const Match walk = finder.FindLongestMatchByWalk(plane, pos);
                    if (fast.length != walk.length || fast.distance != walk.distance) {
                        if (++mismatches <= 3) {
                            ADD_FAILURE() << "image " << kind << ", chain " << chain << ", plane "
                                          << plane << ", pixel " << pos / 3 << ": " << fast.length
                                          << "/" << fast.distance << " instead of " << walk.length
                                          << "/" << walk.distance;
                        }
                    }
                }
                finder.InsertEverywhere(pos);
            }
            EXPECT_EQ(mismatches, 0u) << "image " << kind << ", chain " << chain;
        }
    }
}

TEST(CutTokenList, CutsOnlyAtTokenStartsAndKnowsTheirPixels) {
    // A literal, a 2-pixel match, a literal, a 3-pixel vertical match, a literal: 8 pixels.
    const std::vector<uint16_t> tokens = {0, 6 + 256, 1, 0, 9 + 1 + 256, 2, 0};
    const std::vector<TokenPlace> places = CutTokenList(tokens, 3);
    ASSERT_EQ(places.size(), 4u);
    const std::vector<std::pair<size_t, uint32_t>> expected = {{0, 0}, {3, 3}, {4, 4}, {7, 8}};
    for (size_t k = 0; k < places.size(); ++k) {
        EXPECT_EQ(places[k].token, expected[k].first) << "place " << k;
        EXPECT_EQ(places[k].pixel, expected[k].second) << "place " << k;
    }
    // More pieces than tokens: no empty piece.
    EXPECT_EQ(CutTokenList(std::vector<uint16_t>{0}, 16).size(), 2u);
}

}  // namespace
}  // namespace quenpix
