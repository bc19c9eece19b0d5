// Exceptions turned into status values at the C interface, with the detailed message kept.
#pragma once

#include <cstddef>
#include <stdexcept>

#include "quenpix/quenpix.h"

namespace quenpix {

// A caller's argument that the interface refuses before any work.
class EInvalidArgument final : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

// Copies `text` into the caller's buffer, truncated, always terminated; nothing if it is NULL.
void CopyMessage(const char* text, char* message, size_t messageSize) noexcept;

// The status that a failure of the library stands for.
[[nodiscard]] quenpix_status StatusOf(const std::exception& failure) noexcept;

// Runs `body`, which returns nothing and throws on failure, and turns whatever it throws into
// a status and a message: no exception leaves the interface.
template <typename Body>
[[nodiscard]] quenpix_status Guarded(char* message, size_t messageSize, Body&& body) noexcept {
    try {
        body();
        return QUENPIX_OK;
    } catch (const std::exception& failure) {
        CopyMessage(failure.what(), message, messageSize);
        return StatusOf(failure);
    } catch (...) {
        const quenpix_status status = QUENPIX_INTERNAL_ERROR;
        CopyMessage(quenpix_status_message(status), message, messageSize);
        return status;
    }
}

}  // namespace quenpix
