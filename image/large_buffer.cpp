// LargeBuffer: uninitialised byte buffers for image-sized data, on huge pages where offered.
#include "image/large_buffer.hpp"

#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quenpix {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}  // namespace

LargeBuffer AllocateLarge(size_t bytes) {
    if (bytes < kHugePage) {
        auto* small = static_cast<uint8_t*>(std::malloc(bytes == 0 ? 1 : bytes));
        if (small == nullptr) throw std::bad_alloc();
        return LargeBuffer(small);
    }
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    auto* large = static_cast<uint8_t*>(std::aligned_alloc(kHugePage, rounded));
    if (large == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only advice: where huge pages are not available the buffer works the same.
    (void)madvise(large, rounded, MADV_HUGEPAGE);
#endif
    return LargeBuffer(large);
}

}  // namespace quenpix
