// InterruptGuard: runs a clean-up when SIGINT, SIGTERM or SIGHUP ends the process.
#pragma once

#include <signal.h>

#include <functional>
#include <thread>

namespace quenpix {

// While it lives, the three signals are blocked on the thread that made it (and on every thread
// that thread starts) and read by a watcher thread instead. When one arrives, the watcher runs
// `cleanup`, then ends the process by that signal, as if it had not been caught, so the shell
// still sees the signal. Signals that the process ignores (nohup) stay ignored.
class InterruptGuard final {
  public:
    explicit InterruptGuard(std::function<void()> cleanup);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

  private:
    void Watch();

    std::function<void()> cleanup_;
    sigset_t caught_{};
    sigset_t previousMask_{};
    int signalFd_ = -1;
    int wakeFd_ = -1;
    std::jthread watcher_;
};

}  // namespace quenpix
