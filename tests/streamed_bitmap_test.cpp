// A streamed bitmap on a file that cannot take its space first: the writeback thread then starts,
// follows the bands and stops.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "driver/streamed_bitmap.hpp"

namespace quenpix {
namespace {

TEST(StreamedBitmap, WhereTheSpaceCannotBeTakenFirstEveryBandStillGoesOut) {
    // The null device takes writes but no allocation.
    const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    {
        StreamedBitmap bitmap(fd, "/dev/null");
        // Three bands of about a megabyte, the last one partial.
        constexpr uint32_t kWidth = 1000;
        constexpr uint32_t kHeight = 1000;
        bitmap.Start(kWidth, kHeight);
        for (uint32_t row = 0; row < kHeight; ++row) {
            std::memset(bitmap.Row(row), static_cast<int>(row), size_t{3} * kWidth);
            bitmap.Finished(row);
        }
        EXPECT_NO_THROW(bitmap.Finish());
    }
    close(fd);
}

}  // namespace
}  // namespace quenpix
