// The shared match search: the single walk's tokens at every thread count and stretch size, on
// images made to put runs, repeats and paths that never meet across the stretch boundaries.
#include "stream/parallel_match_search.hpp"

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "search_planes_support.hpp"

namespace quenpix {
namespace {

using testing::Noise;
using testing::Planes;

struct Image {
    std::string name;
    std::vector<uint8_t> pixels;
    uint32_t width;
    // Stretches shorter than a match, about as long as one, and many matches long; every
    // stretch first inserts up to a window of positions, so few of them on large images.
    std::vector<uint32_t> stretches = {13, 86, 300};
};

std::vector<uint8_t> Pixels(uint32_t count, const std::function<uint32_t(uint32_t)>& colour) {
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t c = colour(i);
        bytes.insert(bytes.end(), {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                                   static_cast<uint8_t>(c)});
    }
    return bytes;
}

std::vector<Image> StretchBoundaryImages() {
    std::vector<Image> images;
    // One colour: from pixel 1 every position has a match of 86 pixels, so a path that starts
    // off the single walk's step of 86 never meets it.
    images.push_back({"flat", Pixels(1000, [](uint32_t) { return 0x406080u; }), 90});
    // A period of 37 pixels: matches of 86 pixels again, at distance 37.
    const std::vector<uint8_t> period = Noise(37, 3);
    images.push_back({"periodic",
                      Pixels(1000,
                             [&](uint32_t i) {
                                 const uint32_t k = 3 * (i % 37);
                                 return uint32_t{period[k]} << 16 | uint32_t{period[k + 1]} << 8 |
                                        period[k + 2];
                             }),
                      100});
    // Noise with runs of a few hundred equal pixels and blocks copied from far back, some more
    // than a window away; long enough that stretches start past the first window.
    std::vector<uint8_t> mixed = Noise(40000, 7);
    for (uint32_t at = 500; at + 400 < 40000; at += 2300)
        std::fill_n(mixed.begin() + 3 * at, 3 * (at % 7 * 60 + 20), static_cast<uint8_t>(at % 251));
    for (uint32_t at = 1500; at + 300 < 40000; at += 3100) {
        const uint32_t from = at % 3 == 0 && at > 34000 ? at - 33000 : at - 1200;
        std::copy_n(mixed.begin() + 3 * from, 3 * 300, mixed.begin() + 3 * at);
    }
    images.push_back({"mixed", mixed, 200, {6000, 9001}});
    // A smooth gradient: short matches in the difference planes everywhere.
    images.push_back({"gradient",
                      Pixels(1200,
                             [](uint32_t i) {
                                 const uint32_t x = i % 80;
                                 const uint32_t y = i / 80;
                                 return (x * 3 + y) % 256 << 16 | (x + y * 2) % 256 << 8 |
                                        (x ^ y) % 256;
                             }),
                      80});
    // One pixel wide and one row high.
    images.push_back({"column", Pixels(800, [](uint32_t i) { return i / 50 * 0x010203u; }), 1});
    images.push_back(
        {"row", Pixels(800, [](uint32_t i) { return (i % 120) / 3 * 0x030201u; }), 800});
    return images;
}

struct Outcome {
    std::vector<uint16_t> tokens;
    MatchCounters found;
};

Outcome Search(const Planes& planes, const MatchSettings& settings, uint32_t threads,
               uint32_t stretchPixels) {
    std::vector<uint16_t> tokens(2 * planes.total / 3);
    Outcome outcome;
    tokens.resize(FindMatchesInParallel(planes.Search(settings.useVerticalPlane), settings, threads,
                                        stretchPixels, tokens, outcome.found));
    outcome.tokens = std::move(tokens);
    return outcome;
}

constexpr std::string_view kSame = "the same tokens";

// Where two token lists part: the pixel position and both tokens there.
std::string FirstDifference(const std::vector<uint16_t>& got, const std::vector<uint16_t>& want) {
    uint32_t pixel = 0;
    for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
        const uint32_t a = i < got.size() ? got[i] : 0xFFFF;
        const uint32_t b = i < want.size() ? want[i] : 0xFFFF;
        const uint32_t a2 = a != 0 && i + 1 < got.size() ? got[i + 1] : 0;
        const uint32_t b2 = b != 0 && i + 1 < want.size() ? want[i + 1] : 0;
        if (a != b || a2 != b2) {
            return "at pixel " + std::to_string(pixel) + ": " + std::to_string(a) + "/" +
                   std::to_string(a2) + " instead of " + std::to_string(b) + "/" +
                   std::to_string(b2);
        }
        pixel += TokenBytes(static_cast<uint16_t>(a)) / kBytesPerPixel;
        if (a != 0) ++i;
    }
    return std::string(kSame);
}

class StretchBoundaries : public ::testing::TestWithParam<std::string> {};

TEST_P(StretchBoundaries, TheSingleWalksTokensAtEveryThreadCountAndStretch) {
    const std::vector<Image> images = StretchBoundaryImages();
    const Image& image = *std::find_if(images.begin(), images.end(),
                                       [](const Image& i) { return i.name == GetParam(); });
    const Planes planes(image.pixels, 3 * image.width);
    const std::vector<MatchSettings> settingsList = {
        {128, true, true, true}, {kUnboundedChain, true, true, false}, {64, false, false, true}};
    for (const MatchSettings& settings : settingsList) {
        MatchFinder finder(planes.Search(settings.useVerticalPlane), settings);
        std::vector<uint16_t> expected(2 * planes.total / 3);
        expected.resize(finder.FindMatches(expected));
        for (const uint32_t stretch : image.stretches) {
            for (const uint32_t threads : {2u, 3u, 4u, 7u, 16u}) {
                const Outcome outcome = Search(planes, settings, threads, stretch);
                const std::string what = "chain " + std::to_string(settings.maxChainLength) +
                                         ", stretch " + std::to_string(stretch) + ", " +
                                         std::to_string(threads) + " threads";
                ASSERT_EQ(FirstDifference(outcome.tokens, expected), kSame) << what;
                EXPECT_EQ(outcome.found.byPlane, finder.Found().byPlane) << what;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, StretchBoundaries,
                         ::testing::Values("flat", "periodic", "mixed", "gradient", "column",
                                           "row"));

TEST(FindMatchesInParallel, OneThreadOrNoSearchTakesTheSingleWalk) {
    const Planes planes(Noise(500, 11), 60);
    for (const MatchSettings& settings :
         {MatchSettings{0, true, true, true}, MatchSettings{128, true, true, true}}) {
        const Outcome one = Search(planes, settings, 1, 10);
        const Outcome many = Search(planes, settings, 4, 10);
        EXPECT_EQ(one.tokens, many.tokens);
        if (settings.maxChainLength == 0) {
            EXPECT_EQ(many.tokens, std::vector<uint16_t>(500, 0));
        }
    }
}

TEST(DefaultStretchPixels, SixtyFourOrEightPerThreadButNoneShorterThanAWindow) {
    EXPECT_EQ(DefaultStretchPixels(1000, 4), kWindowPixels);
    EXPECT_EQ(DefaultStretchPixels(64'000'000, 2), 1'000'000u);
    EXPECT_EQ(DefaultStretchPixels(64'000'001, 2), 1'000'001u);
    EXPECT_EQ(DefaultStretchPixels(128'000'000, 16), 1'000'000u);
}

}  // namespace
}  // namespace quenpix
