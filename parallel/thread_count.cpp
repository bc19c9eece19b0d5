// How many threads a coder runs: the caller's choice, or as many as the process may run on.
#include "parallel/thread_count.hpp"

#include <sched.h>

#include <thread>

namespace quenpix {

uint32_t AvailableThreads() noexcept {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof(cpus), &cpus) == 0) {
        const int count = CPU_COUNT(&cpus);
        if (count > 0) return static_cast<uint32_t>(count);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}

}  // namespace quenpix
