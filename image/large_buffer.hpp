// LargeBuffer: uninitialised byte buffers for image-sized data, on huge pages where offered.
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

// `bytes` uninitialised bytes; throws std::bad_alloc. Buffers of several megabytes are aligned
// to and advised onto 2 MiB pages: first touching a plane then costs a few page faults instead
// of thousands.
[[nodiscard]] LargeBuffer AllocateLarge(size_t bytes);

}  // namespace quenpix
