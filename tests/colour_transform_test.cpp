// Tests of the colour transform: histogram cost, the search and its tie order, slot order,
// applying.
#include "encoder/colour_transform_selection.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "image/bitmap_image.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

using testing::Rgb;

constexpr uint8_t kPadding = 0xA5;

// A 24-bit image with pixel(x, y) at top-based row y, and its row padding set to kPadding.
void Fill(BitmapImage& image, uint32_t width, uint32_t height,
          const std::function<Rgb(uint32_t, uint32_t)>& pixel) {
    image.SetSize(0, 24, width, height);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = image.RowData(y);
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            row[3 * x] = c.blue;
            row[3 * x + 1] = c.green;
            row[3 * x + 2] = c.red;
        }
        for (uint32_t p = 3 * width; p < image.BytesPerRow(); ++p)
            row[p] = kPadding;
    }
}

// Runs the selection with a scratch buffer of exactly the size it may use.
ColourTransform Select(BitmapImage& image) {
    std::vector<uint8_t> scratch(static_cast<size_t>(3) * image.Width() * image.Height());
    return SelectColourTransform(image, scratch);
}

uint32_t NextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

std::vector<uint8_t> PixelBytes(const BitmapImage& image) {
    const uint8_t* data = image.ImageData();
    return {data, data + static_cast<size_t>(image.BytesPerRow()) * image.Height()};
}

void ExpectSlots(const ColourTransform& t, std::array<uint8_t, 4> slots) {
    EXPECT_EQ(t.slots, slots) << "slots " << int{t.slots[0]} << int{t.slots[1]} << int{t.slots[2]}
                              << int{t.slots[3]};
}

TEST(HistogramBits, WholeBitsOfTheEntropyTimesTheCount) {
    std::array<uint32_t, 256> histogram{};
    EXPECT_EQ(HistogramBits(histogram), 0u) << "empty";
    histogram[17] = 1000;
    EXPECT_EQ(HistogramBits(histogram), 0u) << "one value only";
    histogram = {};
    histogram[3] = 2;
    histogram[200] = 1;
    EXPECT_EQ(HistogramBits(histogram), 2u) << "2.75 bits truncate to 2";
    histogram = {};
    histogram[0] = 1;
    histogram[1] = 1;
    histogram[2] = 1;
    histogram[3] = 1;
    EXPECT_EQ(HistogramBits(histogram), 8u) << "four singletons: 4 ln 4 / ln 2 = 8 bits";

    // 256 equal counts of 2^32 - 1 cost 8 bits each, 2^43 - 2048 bits in all: only the low
    // 32 bits remain. Rounding in ln may land just below the whole number.
    histogram.fill(0xFFFFFFFFu);
    const uint32_t wrapped = HistogramBits(histogram);
    EXPECT_TRUE(wrapped == 0xFFFFF800u || wrapped == 0xFFFFF7FFu) << wrapped;
}

TEST(ColourTransform, GreyImageSubtractsGreenFromBlueAndRedFromGreen) {
    BitmapImage image;
    Fill(image, 5, 4, [](uint32_t x, uint32_t y) {
        const auto v = static_cast<uint8_t>(x * 37 + y * 11);
        return Rgb{v, v, v};
    });
    const std::vector<uint8_t> before = PixelBytes(image);
    const ColourTransform t = Select(image);
    ExpectSlots(t, {0, 1, 1, 2});
    EXPECT_EQ(t.Packed(), 0x16);
    // Blue - green first (with the untouched green), then green - red.
    for (uint32_t y = 0; y < 4; ++y) {
        const uint8_t* row = image.RowData(y);
        for (uint32_t x = 0; x < 5; ++x) {
            const auto v = static_cast<uint8_t>(x * 37 + y * 11);
            EXPECT_EQ(row[3 * x], 0) << "blue at " << x << "," << y;
            EXPECT_EQ(row[3 * x + 1], 0) << "green at " << x << "," << y;
            EXPECT_EQ(row[3 * x + 2], v) << "red at " << x << "," << y;
        }
        EXPECT_EQ(row[15], kPadding) << "padding of row " << y;
    }
    EXPECT_NE(PixelBytes(image), before);
}

TEST(ColourTransform, BlackRedAndBlueEqualToGreenNeedOneSubtraction) {
    BitmapImage image;
    Fill(image, 6, 3, [](uint32_t x, uint32_t y) {
        const auto v = static_cast<uint8_t>(x * x * 13 + y * 7);
        return Rgb{0, v, v};
    });
    const ColourTransform t = Select(image);
    ExpectSlots(t, {0, 1, 0, 0});
    EXPECT_EQ(t.Packed(), 0x10);
    EXPECT_FALSE(t.HasSecond());
    for (uint32_t y = 0; y < 3; ++y) {
        const uint8_t* row = image.RowData(y);
        for (uint32_t x = 0; x < 6; ++x) {
            EXPECT_EQ(row[3 * x], 0) << "blue at " << x << "," << y;
            EXPECT_EQ(row[3 * x + 1], static_cast<uint8_t>(x * x * 13 + y * 7));
            EXPECT_EQ(row[3 * x + 2], 0);
        }
    }
}

TEST(ColourTransform, SecondSubtractionReadingTheFirstTargetRunsFirst) {
    // Green varies least, blue follows green loosely and red follows blue closely: the search
    // finds blue - green, then red - blue, and red - blue must then run first on the
    // untransformed blue.
    BitmapImage image;
    std::vector<Rgb> pixels;
    uint32_t state = 12345;
    for (int i = 0; i < 48 * 32; ++i) {
        const auto green = static_cast<uint8_t>(NextRandom(state) % 16);
        const auto blue = static_cast<uint8_t>(green + NextRandom(state) % 8);
        const auto red = static_cast<uint8_t>(blue + NextRandom(state) % 2);
        pixels.push_back({red, green, blue});
    }
    Fill(image, 48, 32, [&](uint32_t x, uint32_t y) { return pixels[y * 48 + x]; });

    std::vector<uint8_t> scratch(3 * 48 * 32);
    const ColourTransform t = SelectColourTransform(image, scratch);
    ExpectSlots(t, {2, 0, 0, 1});
    EXPECT_EQ(t.Packed(), 0x81);
    for (uint32_t y = 0; y < 32; ++y) {
        const uint8_t* row = image.RowData(y);
        for (uint32_t x = 0; x < 48; ++x) {
            const Rgb& c = pixels[y * 48 + x];
            ASSERT_EQ(row[3 * x + 2], static_cast<uint8_t>(c.red - c.blue)) << x << "," << y;
            ASSERT_EQ(row[3 * x], static_cast<uint8_t>(c.blue - c.green)) << x << "," << y;
            ASSERT_EQ(row[3 * x + 1], c.green) << x << "," << y;
        }
    }

    // The same exchange from the slots alone.
    ExpectSlots(OrderSubtractions(ColourTransform{{0, 1, 2, 0}}), {2, 0, 0, 1});
    ExpectSlots(OrderSubtractions(ColourTransform{{0, 1, 1, 2}}), {0, 1, 1, 2});
    ExpectSlots(OrderSubtractions(ColourTransform{{0, 1, 0, 0}}), {0, 1, 0, 0});
}

TEST(ColourTransform, SearchOrderAndTies) {
    // The second slot is tried under every pair that saves bits, even one that did not just
    // become the best: here green - blue (gain 30, below the 50 already found) with red - blue
    // (gain 30) beats everything found under blue - green.
    const EntropyMatrix late = {{{30, 10, 10}, {10, 40, 30}, {10, 30, 40}}};
    ExpectSlots(ChooseColourTransform(late), {1, 0, 2, 0});

    // Equal gains: blue - green and green - blue both save 10 bits; the first found stays.
    const EntropyMatrix tied = {{{50, 40, 60}, {40, 50, 60}, {60, 60, 10}}};
    ExpectSlots(ChooseColourTransform(tied), {0, 1, 0, 0});

    // Nothing below the diagonal: no subtraction.
    const EntropyMatrix none = {{{10, 10, 12}, {10, 10, 10}, {12, 10, 10}}};
    ExpectSlots(ChooseColourTransform(none), {0, 0, 0, 0});
}

TEST(ColourTransform, NoSubtractionSavesBitsLeavesTheImageAlone) {
    struct Case {
        const char* name;
        std::function<Rgb(uint32_t, uint32_t)> pixel;
    };
    const Case cases[] = {
        {"uniform colour",
         [](uint32_t, uint32_t) {
             return Rgb{200, 90, 30};
         }},
        {"black",
         [](uint32_t, uint32_t) {
             return Rgb{0, 0, 0};
         }},
        {"only blue varies",
         [](uint32_t x, uint32_t y) {
             return Rgb{0, 0, static_cast<uint8_t>(x * 29 + y * 3)};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BitmapImage image;
        Fill(image, 7, 6, c.pixel);
        const std::vector<uint8_t> before = PixelBytes(image);
        const ColourTransform t = Select(image);
        ExpectSlots(t, {0, 0, 0, 0});
        EXPECT_FALSE(t.HasFirst());
        EXPECT_EQ(PixelBytes(image), before);
    }
}

TEST(ColourTransform, CoversImagesBeyondSixteenBitRowAndByteCounts) {
    struct Shape {
        uint32_t width;
        uint32_t height;
    };
    for (const Shape shape : {Shape{1, 70000}, Shape{22000, 1}}) {
        SCOPED_TRACE(::testing::Message() << shape.width << " x " << shape.height);
        BitmapImage image;
        const auto grey = [](uint32_t x, uint32_t y) {
            const auto v = static_cast<uint8_t>((x + y) * 7);
            return Rgb{v, v, v};
        };
        Fill(image, shape.width, shape.height, grey);
        const ColourTransform t = Select(image);
        ExpectSlots(t, {0, 1, 1, 2});
        size_t untouched = 0;
        for (uint32_t y = 0; y < shape.height; ++y) {
            const uint8_t* row = image.RowData(y);
            for (uint32_t x = 0; x < shape.width; ++x) {
                if (row[3 * x] != 0 || row[3 * x + 1] != 0 || row[3 * x + 2] != grey(x, y).red) {
                    ++untouched;
                }
            }
        }
        EXPECT_EQ(untouched, 0u) << "pixels left untransformed";
    }
}

TEST(ColourTransform, ScratchHoldsStoredOrderDifferencesTopRowFirst) {
    // 2 x 2 image; the differenced plane is the top-left pixel itself, then each pixel minus
    // the one before it, the first of row 1 against the last of row 0.
    BitmapImage image;
    const Rgb pixels[2][2] = {{{9, 1, 100}, {9, 2, 110}}, {{9, 4, 130}, {9, 8, 170}}};
    Fill(image, 2, 2, [&](uint32_t x, uint32_t y) { return pixels[y][x]; });
    std::vector<uint8_t> scratch(12);
    FillDifferencedScratch(image, scratch);
    const std::vector<uint8_t> expected = {100, 1, 9, 10, 1, 0, 20, 2, 0, 40, 4, 0};
    EXPECT_EQ(scratch, expected);

    // Blue differences all distinct: 4 samples of 2 bits. Green 1, 1, 2, 4: 6 bits. Red 9, 0,
    // 0, 0: 3.24 bits, truncated.
    const EntropyMatrix m = ComputeEntropyMatrix(scratch);
    EXPECT_EQ(m[0][0], 8u);
    EXPECT_EQ(m[1][1], 6u);
    EXPECT_EQ(m[2][2], 3u);
    for (size_t u = 0; u < 3; ++u) {
        for (size_t v = 0; v < 3; ++v)
            EXPECT_EQ(m[u][v], m[v][u]) << u << "," << v;
    }
}

TEST(SelectColourTransform, RowsSharedAmongThreadsGiveTheSameTransformAndPixels) {
    // Large enough that every pass is cut into ranges: 600 rows of 1.2 kB.
    const auto pixel = [](uint32_t x, uint32_t y) {
        return Rgb{static_cast<uint8_t>(x * 3 + y), static_cast<uint8_t>(x * 3 + y + (x ^ y) % 5),
                   static_cast<uint8_t>(y * 7 + x % 11)};
    };
    BitmapImage single;
    Fill(single, 400, 600, pixel);
    std::vector<uint8_t> scratch(size_t{3} * 400 * 600);
    const ColourTransform expected = SelectColourTransform(single, scratch, 1);
    ASSERT_TRUE(expected.HasFirst()) << "the image should take a subtraction";
    for (const uint32_t threads : {2u, 3u, 7u}) {
        BitmapImage shared;
        Fill(shared, 400, 600, pixel);
        EXPECT_EQ(SelectColourTransform(shared, scratch, threads).Packed(), expected.Packed())
            << threads << " threads";
        for (uint32_t y = 0; y < 600; ++y) {
            ASSERT_TRUE(std::equal(single.RowData(y), single.RowData(y) + single.BytesPerRow(),
                                   shared.RowData(y)))
                << "row " << y << " at " << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace quenpix
