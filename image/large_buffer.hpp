// LargeBuffer: uninitialised byte buffers for image-sized data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace quenpix {

struct FreeDeleter {
    void operator()(uint8_t* bytes) const noexcept { std::free(bytes); }
};
using LargeBuffer = std::unique_ptr<uint8_t[], FreeDeleter>;

// `bytes` uninitialised bytes; throws std::bad_alloc. Not cleared: a plane whose every byte is
// written before it is read would otherwise touch each page twice.
[[nodiscard]] LargeBuffer AllocateLarge(size_t bytes);

// `bytes` zero bytes; throws std::bad_alloc. Large blocks come as fresh pages that the system
// hands out zeroed, so nothing is cleared twice and pages are touched only when written.
[[nodiscard]] LargeBuffer AllocateLargeZeroed(size_t bytes);

}  // namespace quenpix
