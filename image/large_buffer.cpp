// LargeBuffer: uninitialised byte buffers for image-sized data.
#include "image/large_buffer.hpp"

#include <new>

namespace quenpix {

// Plain pages, not huge ones: a huge page must be cleared whole when first touched, and where
// the system hands freed memory back to a host, that clearing costs far more than the faults
// of small pages (the encoder measured some 5% slower after another large program had run).
LargeBuffer AllocateLarge(size_t bytes) {
    auto* buffer = static_cast<uint8_t*>(std::malloc(bytes == 0 ? 1 : bytes));
    if (buffer == nullptr) throw std::bad_alloc();
    return LargeBuffer(buffer);
}

LargeBuffer AllocateLargeZeroed(size_t bytes) {
    auto* buffer = static_cast<uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1));
    if (buffer == nullptr) throw std::bad_alloc();
    return LargeBuffer(buffer);
}

}  // namespace quenpix
