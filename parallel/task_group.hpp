// TaskGroup: threads owned by one call, joined before it returns, the first failure carried back.
#pragma once

#include <exception>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace quenpix {

// Runs tasks on threads of their own. Each task takes a std::stop_token that is triggered when
// any task fails (or Stop() is called), so the others can give up early. Wait() joins every
// thread and rethrows the first exception a task raised, unchanged; the destructor stops and
// joins whatever is still running, so no thread outlives the group.
class TaskGroup final {
  public:
    TaskGroup() = default;
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;
    ~TaskGroup() {
        stop_.request_stop();
        threads_.clear();
    }

    template <class Task>
    void Run(Task&& task) {
        threads_.emplace_back([this, task = std::forward<Task>(task)]() mutable {
            try {
                task(stop_.get_token());
            } catch (...) {
                Fail(std::current_exception());
            }
        });
    }

    // Asks every task to stop; what they have done so far stands.
    void Stop() noexcept { stop_.request_stop(); }
    [[nodiscard]] std::stop_token StopToken() const noexcept { return stop_.get_token(); }

    // Joins every task, then rethrows the first failure, if any.
    void Wait() {
        for (std::jthread& thread : threads_) {
            if (thread.joinable()) thread.join();
        }
        threads_.clear();
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    }

    // Records a failure from outside the tasks (the calling thread's own share of the work),
    // so that the tasks stop as they would for one of their own.
    void Fail(std::exception_ptr failure) noexcept {
        {
            const std::lock_guard lock(mutex_);
            if (!failure_) failure_ = std::move(failure);
        }
        stop_.request_stop();
    }

  private:
    std::stop_source stop_;
    std::mutex mutex_;
    std::exception_ptr failure_;
    // Last, so that the threads are joined before the state they use is destroyed.
    std::vector<std::jthread> threads_;
};

}  // namespace quenpix
