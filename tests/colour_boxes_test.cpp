// Tests of the colour-box analysis on hand-built residual planes and pixel lists.
#include "colourbox/colour_boxes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace quenpix {
namespace {

using Triple = std::array<uint8_t, 3>;
constexpr uint8_t kUntouched = 0xEE;

// A residual plane with a list of some of its pixels, as the match loop hands them over.
struct ListedPixels {
    std::vector<uint8_t> residual;
    std::vector<bool> listed;
    std::vector<uint8_t> boxIndex;
    ColourBoxTable table;

    void Add(Triple values, uint32_t copies = 1, bool inList = true) {
        for (uint32_t i = 0; i < copies; ++i) {
            residual.insert(residual.end(), values.begin(), values.end());
            listed.push_back(inList);
        }
    }

    [[nodiscard]] std::vector<uint32_t> Links() const {
        std::vector<uint32_t> links(listed.size());
        uint32_t tail = 0;
        std::iota(links.begin(), links.end(), 0u);  // the caller's initial self-links
        for (uint32_t p = 1; p < links.size(); ++p) {
            if (!listed[p]) continue;
            links[tail] = p;
            tail = p;
        }
        links[tail] = 0;
        return links;
    }

    void Run() {
        ASSERT_TRUE(listed.at(0)) << "pixel 0 always starts the list";
        std::vector<uint32_t> links = Links();
        boxIndex.assign(listed.size(), kUntouched);
        BuildColourBoxes(residual, links, boxIndex, table);
        CheckTable();
    }

    [[nodiscard]] uint8_t Value(size_t pixel, size_t c) const { return residual[3 * pixel + c]; }

    // The table must describe exactly the listed pixels that carry each box number.
    void CheckTable() const {
        ASSERT_GE(table.boxCount, 1u);
        ASSERT_LE(table.boxCount, 256u);
        std::vector<uint64_t> counts(table.boxCount);
        std::vector<Triple> low(table.boxCount, Triple{255, 255, 255});
        std::vector<Triple> high(table.boxCount, Triple{0, 0, 0});
        for (size_t p = 0; p < listed.size(); ++p) {
            if (!listed[p]) {
                EXPECT_EQ(boxIndex[p], kUntouched) << "unlisted pixel " << p << " was numbered";
                continue;
            }
            const uint8_t box = boxIndex[p];
            ASSERT_LT(box, table.boxCount) << "pixel " << p;
            ++counts[box];
            for (size_t c = 0; c < 3; ++c) {
                low[box][c] = std::min(low[box][c], Value(p, c));
                high[box][c] = std::max(high[box][c], Value(p, c));
            }
        }
        uint64_t bits = 0;
        for (uint32_t k = 0; k < table.boxCount; ++k) {
            ASSERT_GT(counts[k], 0u) << "box " << k << " is empty";
            if (k > 0) {
                EXPECT_GE(counts[k - 1], counts[k]) << "boxes out of count order at " << k;
            }
            for (size_t c = 0; c < 3; ++c) {
                EXPECT_EQ(table.minimum[c][k], low[k][c]) << "box " << k << " channel " << c;
                EXPECT_EQ(table.maximum[c][k], high[k][c]) << "box " << k << " channel " << c;
                EXPECT_EQ(table.width[c][k], BitsForCount(high[k][c] - low[k][c] + 1u));
                EXPECT_LE(table.width[c][k], 7u);
            }
            bits += counts[k] * table.PixelBits(k);
        }
        EXPECT_EQ(table.offsetBitCount, bits);
    }
};

TEST(ColourBoxes, OneValueTripleGivesOneBoxWithoutOffsetBits) {
    ListedPixels image;
    image.Add({10, 20, 30}, 100);
    image.Add({200, 0, 0}, 1, false);
    image.Add({10, 20, 30}, 100);
    image.Run();
    EXPECT_EQ(image.table.boxCount, 1u);
    EXPECT_EQ(image.table.PixelBits(0), 0u);
    EXPECT_EQ(image.table.offsetBitCount, 0u);
    EXPECT_EQ(std::count(image.boxIndex.begin(), image.boxIndex.end(), 0), 200);
}

TEST(ColourBoxes, NeighbourBucketsMergeOnlyWhenTheUnionSpansLessThan64) {
    struct Case {
        Triple values;  // lowest and highest channel-0 value of bucket 0, then highest of bucket 1
        uint32_t boxes;
    };
    for (const auto& [values, boxes] : {Case{{40, 63, 100}, 1}, Case{{0, 63, 70}, 2},
                                        Case{{1, 63, 64}, 1}, Case{{0, 63, 64}, 2}}) {
        ListedPixels image;
        image.Add({values[0], 5, 5}, 3);
        image.Add({values[1], 5, 5});
        image.Add({64, 5, 5});
        image.Add({values[2], 5, 5}, 2);
        image.Run();
        EXPECT_EQ(image.table.boxCount, boxes)
            << "channel 0 from " << int{values[0]} << " to " << int{values[2]};
    }

    // A bucket grown by the channel-0 pass is merged again by the channel-1 pass.
    ListedPixels chained;
    chained.Add({62, 5, 5});
    chained.Add({64, 5, 5});
    chained.Add({64, 66, 5});
    chained.Run();
    EXPECT_EQ(chained.table.boxCount, 1u);
    EXPECT_EQ(chained.table.minimum[0][0], 62u);
    EXPECT_EQ(chained.table.maximum[1][0], 66u);
}

TEST(ColourBoxes, BoxesOfAtMost40PixelsAreNeverSplit) {
    // Two far-apart halves: a cut would gain about 200 bits, but only from 41 pixels on.
    for (const uint32_t half : {20u, 21u}) {
        ListedPixels image;
        image.Add({0, 5, 5}, half);
        image.Add({63, 5, 5}, half);
        image.Run();
        EXPECT_EQ(image.table.boxCount, half == 20 ? 1u : 2u) << 2 * half << " pixels";
    }
}

TEST(ColourBoxes, SplitNeedsAGainAbove40) {
    for (const uint32_t copies : {46u, 47u}) {
        ListedPixels image;
        image.Add({100, 9, 9});
        image.Add({101, 9, 9}, copies);
        const std::vector<uint32_t> links = image.Links();
        ChannelBounds split;
        const uint32_t gain =
            FindBestSplit({{100, 9, 9}, {101, 9, 9}}, split, copies + 1, 0, links, image.residual);
        ASSERT_EQ(gain, copies - 6) << "the pixel set no longer has the intended gain";
        image.Run();
        EXPECT_EQ(image.table.boxCount, gain > 40 ? 2u : 1u) << "gain " << gain;
    }
}

TEST(ColourBoxes, FindBestSplitPrefersEarlierChannelAndSmallerCutOnTies) {
    ListedPixels image;
    for (const uint8_t v : {0, 10, 20}) {
        image.Add({v, v, 5}, 45);
    }
    const std::vector<uint32_t> links = image.Links();
    const ChannelBounds box{{0, 0, 5}, {20, 20, 5}};
    ChannelBounds split;
    EXPECT_GT(FindBestSplit(box, split, 135, 0, links, image.residual), 40u);
    EXPECT_EQ(split.low, (Triple{0, 0, 5}));
    EXPECT_EQ(split.high, (Triple{0, 20, 5}));

    // Too few pixels, or a single value triple: no gain, and the proposal is left as it was.
    const ChannelBounds sentinel{{1, 2, 3}, {4, 5, 6}};
    split = sentinel;
    EXPECT_EQ(FindBestSplit(box, split, 40, 0, links, image.residual), 0u);
    EXPECT_EQ(split.high, sentinel.high);
    EXPECT_EQ(FindBestSplit({{0, 0, 5}, {0, 0, 5}}, split, 45, 0, links, image.residual), 0u);
    EXPECT_EQ(split.high, sentinel.high);
}

TEST(ColourBoxes, MostPopulousBoxComesFirstAndTiesKeepCreationOrder) {
    ListedPixels image;
    image.Add({10, 10, 10}, 5);
    image.Add({10, 10, 150}, 9);
    image.Add({150, 10, 10}, 9);
    image.Run();
    ASSERT_EQ(image.table.boxCount, 3u);
    EXPECT_EQ(image.boxIndex[5], 0u);
    EXPECT_EQ(image.boxIndex[14], 1u);
    EXPECT_EQ(image.boxIndex[0], 2u);
}

// 256 value triples that the refinement separates one by one: buckets of 4 x 4 x 4 triples with
// channel offsets 0, 2, 61 and 63, every cut gaining well over 81 bits. The last split cuts one
// pixel at 200 from `lastSplitCopies` at 201, gaining 80 or 81. The triples 63 and 64 of
// channel 0 start in different buckets and merge for a cost of 0.
ListedPixels FullTable(uint32_t lastSplitCopies) {
    constexpr std::array<uint8_t, 4> kOffsets = {0, 2, 61, 63};
    ListedPixels image;
    const std::array<Triple, 4> bases = {Triple{0, 0, 0}, Triple{64, 0, 0}, Triple{0, 128, 0},
                                         Triple{128, 0, 128}};
    for (const Triple& base : bases) {
        for (const uint8_t a : kOffsets) {
            for (const uint8_t b : kOffsets) {
                for (const uint8_t c : kOffsets) {
                    if (base[0] == 128 && b == 63 && c == 63 && a >= 61) continue;
                    image.Add({static_cast<uint8_t>(base[0] + a), static_cast<uint8_t>(base[1] + b),
                               static_cast<uint8_t>(base[2] + c)},
                              64);
                }
            }
        }
    }
    image.Add({200, 200, 200});
    image.Add({201, 200, 200}, lastSplitCopies);
    return image;
}

TEST(ColourBoxes, FullTableMergesAPairOnlyWhenItCostsAtLeast81LessThanTheLastSplit) {
    ListedPixels stays = FullTable(87);
    stays.Run();
    EXPECT_EQ(stays.table.boxCount, 256u) << "a merge saving 80 bits was made";

    ListedPixels merges = FullTable(88);
    merges.Run();
    EXPECT_EQ(merges.table.boxCount, 255u) << "a merge saving 81 bits was not made";
    const size_t x = 48 * 64;  // (63, 0, 0) in the first bucket, (64, 0, 0) first in the second
    EXPECT_EQ(merges.boxIndex[x], merges.boxIndex[64 * 64]) << "63 and 64 should share a box";
}

// Many tight clusters: the table fills up and pair merges run many times, so boxes are split,
// merged and moved into freed slots; the table must still describe the numbered pixels exactly.
TEST(ColourBoxes, ClusteredListKeepsTheTableExactThroughSplitsAndMerges) {
    std::mt19937 random(7);
    std::vector<Triple> centres(600);
    for (Triple& centre : centres) {
        for (uint8_t& v : centre) {
            v = static_cast<uint8_t>(random());
        }
    }
    ListedPixels image;
    for (uint32_t p = 0; p < 60000; ++p) {
        Triple values = centres[random() % centres.size()];
        values[random() % 3] += static_cast<uint8_t>(random() % 3);
        image.Add(values, 1, p == 0 || random() % 5 != 0);
    }
    image.Run();
    EXPECT_GE(image.table.boxCount, 255u);
}

// The partition depends only on the pixels' values, so counting each distinct triple once with
// its number of pixels must give the same table and box numbers as going pixel by pixel.
TEST(ColourBoxes, DistinctTriplesGiveThePixelByPixelPartition) {
    std::mt19937 random(11);
    std::vector<Triple> centres(300);
    for (Triple& centre : centres) {
        for (uint8_t& v : centre)
            v = static_cast<uint8_t>(random());
    }
    ListedPixels clustered;
    for (uint32_t p = 0; p < 30000; ++p) {
        Triple values = centres[random() % centres.size()];
        values[random() % 3] += static_cast<uint8_t>(random() % 4);
        clustered.Add(values, 1, p == 0 || random() % 4 != 0);
    }
    ListedPixels full = FullTable(88);
    for (ListedPixels* image : {&clustered, &full}) {
        image->Run();
        DistinctTriples triples(1u << 20);
        // Also counted in three pieces apart, then merged in order.
        std::vector<DistinctTriples> pieces(3, DistinctTriples(1u << 20));
        for (size_t p = 0; p < image->listed.size(); ++p) {
            if (image->listed[p]) {
                ASSERT_TRUE(triples.Add(&image->residual[3 * p]));
                ASSERT_TRUE(pieces[3 * p / image->listed.size()].Add(&image->residual[3 * p]));
            }
        }
        ASSERT_TRUE(pieces[0].Merge(pieces[1]) && pieces[0].Merge(pieces[2]));
        ColourBoxTable table;
        triples.BuildColourBoxes(table);
        ColourBoxTable merged;
        pieces[0].BuildColourBoxes(merged);
        EXPECT_EQ(merged.minimum, table.minimum);
        EXPECT_EQ(merged.width, table.width);
        EXPECT_EQ(merged.offsetBitCount, table.offsetBitCount);
        ASSERT_EQ(table.boxCount, image->table.boxCount);
        EXPECT_EQ(table.minimum, image->table.minimum);
        EXPECT_EQ(table.maximum, image->table.maximum);
        EXPECT_EQ(table.width, image->table.width);
        EXPECT_EQ(table.offsetBitCount, image->table.offsetBitCount);
        for (size_t p = 0; p < image->listed.size(); ++p) {
            if (!image->listed[p]) continue;
            ASSERT_EQ(triples.BoxOf(&image->residual[3 * p]), image->boxIndex[p]) << "pixel " << p;
            ASSERT_EQ(pieces[0].BoxOf(&image->residual[3 * p]), image->boxIndex[p])
                << "pixel " << p;
        }
    }
    // Past its limit of distinct triples it gives up.
    DistinctTriples few(2);
    const uint8_t values[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    EXPECT_TRUE(few.Add(values[0]));
    EXPECT_TRUE(few.Add(values[1]));
    EXPECT_TRUE(few.Add(values[0]));
    EXPECT_FALSE(few.Add(values[2]));
    DistinctTriples one(2);
    DistinctTriples other(2);
    EXPECT_TRUE(one.Add(values[0]) && other.Add(values[1]) && other.Add(values[2]));
    EXPECT_FALSE(one.Merge(other));
}

TEST(ColourBoxes, BitsForCountAndLogBase2) {
    const std::array<uint32_t, 12> counts = {
        0, 1, 2, 3, 4, 5, 129, 256, 257, 1u << 26, (1u << 26) + 1, ~0u};
    const std::array<uint32_t, 12> bits = {0, 0, 1, 2, 2, 3, 8, 8, 9, 26, 27, 27};
    for (size_t i = 0; i < counts.size(); ++i) {
        EXPECT_EQ(BitsForCount(counts[i]), bits[i]) << "x = " << counts[i];
    }
    // The rounded factor is slightly above 1 / ln 2, which the truncated gains can see.
    EXPECT_GT(LogBase2(1024.0), 10.0);
    EXPECT_NEAR(LogBase2(1024.0), 10.0, 1e-8);
}

}  // namespace
}  // namespace quenpix
