// InterruptGuard: runs a clean-up when SIGINT, SIGTERM or SIGHUP ends the process.
#include "driver/interrupt_guard.hpp"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <system_error>

namespace quenpix {

namespace {

constexpr std::array<int, 3> kInterrupts = {SIGINT, SIGTERM, SIGHUP};

[[nodiscard]] bool Ignored(int signal) noexcept {
    struct sigaction current {};
    return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

[[noreturn]] void ThrowSystemError(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

InterruptGuard::InterruptGuard(std::function<void()> cleanup) : cleanup_(std::move(cleanup)) {
    sigemptyset(&caught_);
    for (const int signal : kInterrupts) {
        if (!Ignored(signal)) sigaddset(&caught_, signal);
    }
    pthread_sigmask(SIG_BLOCK, &caught_, &previousMask_);
    signalFd_ = signalfd(-1, &caught_, SFD_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || wakeFd_ < 0) {
        if (signalFd_ >= 0) close(signalFd_);
        if (wakeFd_ >= 0) close(wakeFd_);
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
        ThrowSystemError("signalfd");
    }
    // Started with the signals blocked, so that it too leaves them to the signal descriptor.
    watcher_ = std::jthread([this] { Watch(); });
}

InterruptGuard::~InterruptGuard() {
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof(one));
    watcher_.join();
    close(signalFd_);
    close(wakeFd_);
    // A signal that came after the watcher stopped is delivered now, with its usual effect.
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void InterruptGuard::Watch() {
    std::array<pollfd, 2> descriptors = {pollfd{signalFd_, POLLIN, 0}, pollfd{wakeFd_, POLLIN, 0}};
    for (;;) {
        if (poll(descriptors.data(), descriptors.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if ((descriptors[1].revents & POLLIN) != 0) return;
        if ((descriptors[0].revents & POLLIN) == 0) continue;
        signalfd_siginfo info{};
        if (read(signalFd_, &info, sizeof(info)) != static_cast<ssize_t>(sizeof(info))) continue;
        const int signal = static_cast<int>(info.ssi_signo);
        cleanup_();
        // End the process as the signal's default action would.
        ::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        raise(signal);
        _exit(128 + signal);
    }
}

}  // namespace quenpix
