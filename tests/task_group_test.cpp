// TaskGroup: failures carried back unchanged, the other tasks stopped, every thread joined.
#include "parallel/task_group.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "parallel/thread_count.hpp"

namespace quenpix {
namespace {

TEST(TaskGroup, FirstFailureReachesTheCallerAndStopsTheOthers) {
    TaskGroup group;
    std::atomic<bool> sawStop = false;
    group.Run([&](std::stop_token stop) {
        // Ends only when the failing task has asked it to.
        while (!stop.stop_requested())
            std::this_thread::yield();
        sawStop = true;
    });
    group.Run([](std::stop_token) { throw std::out_of_range("worker failed"); });
    try {
        group.Wait();
        FAIL() << "the worker's exception was lost";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "worker failed");
    }
    EXPECT_TRUE(sawStop);
    EXPECT_NO_THROW(group.Wait()) << "a failure is reported once";
}

TEST(TaskGroup, DestructorStopsAndJoinsRunningTasks) {
    std::atomic<int> finished = 0;
    {
        TaskGroup group;
        for (int i = 0; i < 3; ++i) {
            group.Run([&](std::stop_token stop) {
                while (!stop.stop_requested())
                    std::this_thread::yield();
                ++finished;
            });
        }
    }
    EXPECT_EQ(finished, 3);
}

TEST(ThreadCount, ZeroMeansEveryAvailableCpu) {
    EXPECT_GE(AvailableThreads(), 1u);
    EXPECT_EQ(ResolveThreadCount(0), AvailableThreads());
    EXPECT_EQ(ResolveThreadCount(5), 5u);
}

}  // namespace
}  // namespace quenpix
