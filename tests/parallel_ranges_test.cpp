// ForEachRange: every item in exactly one range, short loops on the calling thread alone, and a
// failure in any range carried back.
#include "parallel/parallel_ranges.hpp"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace quenpix {
namespace {

TEST(ForEachRange, CoversEveryItemOnceInRangesOfAtLeastTheGrain) {
    for (const uint32_t threads : {1u, 2u, 3u, 8u}) {
        for (const size_t count : {size_t{0}, size_t{1}, size_t{99}, size_t{1000}}) {
            std::vector<std::atomic<int>> seen(count);
            std::atomic<size_t> ranges = 0;
            ForEachRange(threads, count, 100, [&](size_t begin, size_t end) {
                ++ranges;
                EXPECT_TRUE(end - begin >= 100 || ranges == 1) << begin << ".." << end;
                for (size_t k = begin; k < end; ++k)
                    ++seen[k];
            });
            for (size_t k = 0; k < count; ++k)
                ASSERT_EQ(seen[k], 1) << "item " << k << ", " << threads << " threads";
            EXPECT_LE(ranges, std::max<size_t>(1, std::min<size_t>(threads, count / 100)));
        }
    }
}

TEST(ForEachRange, AFailureInAnyRangeReachesTheCaller) {
    for (const size_t failing : {size_t{0}, size_t{500}}) {
        try {
            ForEachRange(4, 1000, 10, [&](size_t begin, size_t end) {
                if (begin <= failing && failing < end) throw std::length_error("range failed");
            });
            FAIL() << "the failure at " << failing << " was lost";
        } catch (const std::length_error& e) {
            EXPECT_STREQ(e.what(), "range failed");
        }
    }
}

}  // namespace
}  // namespace quenpix
