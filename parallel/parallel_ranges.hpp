// ForEachRange: a loop over [0, count) cut into ranges that threads run side by side.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <stop_token>

#include "parallel/task_group.hpp"

namespace quenpix {

// Runs work(begin, end) over [0, count) cut into up to `threads` nearly equal ranges of at least
// `grain` items (fewer ranges when the loop is short): the first on the calling thread, the
// others on threads of their own, all joined before it returns. The first failure is raised
// here unchanged. The ranges must not depend on one another.
template <typename Work>
void ForEachRange(uint32_t threads, size_t count, size_t grain, Work&& work) {
    const size_t parts =
        std::max<size_t>(1, std::min<size_t>(threads, count / std::max<size_t>(grain, 1)));
    if (parts == 1) {
        work(size_t{0}, count);
        return;
    }
    TaskGroup group;
    for (size_t i = 1; i < parts; ++i) {
        group.Run([&work, i, parts, count](const std::stop_token&) {
            work(count * i / parts, count * (i + 1) / parts);
        });
    }
    try {
        work(size_t{0}, count / parts);
    } catch (...) {
        group.Fail(std::current_exception());
    }
    group.Wait();
}

}  // namespace quenpix
