// BoundedQueue: a hand-over between threads that holds at most a fixed number of items.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

#include "parallel/cpu_pause.hpp"

namespace quenpix {

// First in, first out. Push blocks while the queue is full and Pop while it is empty; both give
// up when the stop token is triggered, so that a failure elsewhere never leaves a thread waiting.
// Close() ends the hand-over: Pop returns what is left, then nothing, and Push refuses.
template <class T>
class BoundedQueue final {
  public:
    // Pop waits up to `spins` pauses awake before it sleeps, fewer while such waits end with
    // nothing: for threads with a CPU each and nothing else to do, so that the pushing thread
    // need not wake the other, and the other goes on at once.
    explicit BoundedQueue(size_t capacity, uint32_t spins = 0)
        : capacity_(capacity == 0 ? 1 : capacity), spins_(spins) {}
    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    // Returns false, and drops the item, when the queue was closed or `stop` triggered first.
    bool Push(T item, std::stop_token stop) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait(lock, stop, [this] { return closed_ || items_.size() < capacity_; }) ||
            closed_) {
            return false;
        }
        items_.push_back(std::move(item));
        ready_.store(true, std::memory_order_release);
        lock.unlock();
        changed_.notify_all();
        return true;
    }

    // The oldest item; nothing once the queue is closed and empty, or when `stop` triggered.
    [[nodiscard]] std::optional<T> Pop(std::stop_token stop) {
        if (spins_ != 0) Spin(stop);
        std::unique_lock lock(mutex_);
        if (!changed_.wait(lock, stop, [this] { return closed_ || !items_.empty(); }) ||
            items_.empty()) {
            return std::nullopt;
        }
        return TakeOldest(lock);
    }

    // The oldest item if one is there now; never waits.
    [[nodiscard]] std::optional<T> TryPop() {
        if (!ready_.load(std::memory_order_acquire)) return std::nullopt;
        std::unique_lock lock(mutex_);
        if (items_.empty()) return std::nullopt;
        return TakeOldest(lock);
    }

    void Close() {
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
            ready_.store(true, std::memory_order_release);
        }
        changed_.notify_all();
    }

  private:
    // Under `lock`, with an item there.
    std::optional<T> TakeOldest(std::unique_lock<std::mutex>& lock) {
        std::optional<T> item(std::move(items_.front()));
        items_.pop_front();
        ready_.store(!items_.empty(), std::memory_order_release);
        lock.unlock();
        changed_.notify_all();
        return item;
    }

    // Waits awake for up to budget_ pauses. The budget halves each time the wait ends with
    // nothing, and doubles again each time something comes: where the other thread shares a
    // CPU, or is kept from one, waiting awake only keeps it waiting longer.
    void Spin(const std::stop_token& stop) {
        const uint32_t budget = budget_.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < budget; ++i) {
            if (ready_.load(std::memory_order_acquire)) {
                budget_.store(std::min(spins_, 2 * budget), std::memory_order_relaxed);
                return;
            }
            if (stop.stop_requested()) return;
            PauseCpu();
        }
        budget_.store(std::max(std::min(kLeastSpins, spins_), budget / 2),
                      std::memory_order_relaxed);
    }

    static constexpr uint32_t kLeastSpins = 16;

    const size_t capacity_;
    const uint32_t spins_;
    std::atomic<uint32_t> budget_{spins_};
    std::mutex mutex_;
    // One condition for both directions: at most two threads wait on a queue.
    std::condition_variable_any changed_;
    std::deque<T> items_;
    bool closed_ = false;
    // Whether Pop would return at once, an item there or the queue closed: what a spinning Pop
    // watches.
    std::atomic<bool> ready_{false};
};

}  // namespace quenpix
