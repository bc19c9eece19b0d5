// BoundedQueue: items in order, drained after Close, and no thread left waiting on a stop.
#include "parallel/bounded_queue.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace quenpix {
namespace {

TEST(BoundedQueue, HandsItemsOverInOrderAndDrainsAfterClose) {
    // Waiting asleep, and awake first, which ends asleep when nothing comes in time.
    for (const uint32_t spins : {0u, 1000u}) {
        BoundedQueue<int> queue(2, spins);
        std::jthread producer([&queue] {
            // More items than the queue holds: the producer waits for the consumer.
            for (int i = 0; i < 100; ++i)
                EXPECT_TRUE(queue.Push(i, {}));
            queue.Close();
        });
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(queue.Pop({}), i);
        EXPECT_EQ(queue.Pop({}), std::nullopt) << "closed and empty";
        EXPECT_FALSE(queue.Push(1, {})) << "closed";
    }
}

TEST(BoundedQueue, TryPopTakesWhatIsThereWithoutWaiting) {
    BoundedQueue<int> queue(2);
    EXPECT_EQ(queue.TryPop(), std::nullopt) << "empty";
    ASSERT_TRUE(queue.Push(1, {}));
    ASSERT_TRUE(queue.Push(2, {}));
    EXPECT_EQ(queue.TryPop(), 1);
    // The place it freed takes another item (a full queue would keep this waiting).
    ASSERT_TRUE(queue.Push(3, {}));
    EXPECT_EQ(queue.TryPop(), 2);
    EXPECT_EQ(queue.Pop({}), 3);
    EXPECT_EQ(queue.TryPop(), std::nullopt) << "emptied";
}

TEST(BoundedQueue, StopReleasesThreadsWaitingOnAFullOrEmptyQueue) {
    for (const uint32_t spins : {0u, 100000u}) {
        BoundedQueue<int> full(1, spins);
        ASSERT_TRUE(full.Push(0, {}));
        BoundedQueue<int> empty(1, spins);
        std::stop_source stop;
        bool pushed = true;
        std::optional<int> popped = 0;
        {
            std::jthread pusher([&] { pushed = full.Push(1, stop.get_token()); });
            std::jthread popper([&] { popped = empty.Pop(stop.get_token()); });
            stop.request_stop();
        }
        EXPECT_FALSE(pushed);
        EXPECT_EQ(popped, std::nullopt);
    }
}

}  // namespace
}  // namespace quenpix
