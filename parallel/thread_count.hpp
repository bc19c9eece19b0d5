// How many threads a coder runs: the caller's choice, or as many as the process may run on.
#pragma once

#include <cstdint>

namespace quenpix {

// The CPUs this process may run on (its affinity mask), at least 1. `taskset -c 0` gives 1.
[[nodiscard]] uint32_t AvailableThreads() noexcept;

// 0 asks for every available CPU; any other count is taken as it is.
[[nodiscard]] inline uint32_t ResolveThreadCount(uint32_t requested) noexcept {
    return requested == 0 ? AvailableThreads() : requested;
}

}  // namespace quenpix
