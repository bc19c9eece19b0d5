// Exceptions turned into status values at the C interface, with the detailed message kept.
#include "api/status_translation.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "image/exceptions.hpp"

namespace quenpix {

void CopyMessage(const char* text, char* message, size_t messageSize) noexcept {
    if (message == nullptr || messageSize == 0) return;
    const size_t length = std::min(std::strlen(text), messageSize - 1);
    std::memcpy(message, text, length);
    message[length] = '\0';
}

quenpix_status StatusOf(const std::exception& failure) noexcept {
    if (dynamic_cast<const EInvalidArgument*>(&failure) != nullptr) return QUENPIX_INVALID_ARGUMENT;
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) return QUENPIX_OUT_OF_MEMORY;
    if (dynamic_cast<const EImageTooLarge*>(&failure) != nullptr) return QUENPIX_IMAGE_TOO_LARGE;
    if (dynamic_cast<const EGraphicsAbort*>(&failure) != nullptr) return QUENPIX_CANCELLED;
    if (dynamic_cast<const EDecodeError*>(&failure) != nullptr) return QUENPIX_CORRUPT_DATA;
    // The encoder's own refusals: an empty image, a level out of range.
    if (dynamic_cast<const EPngError*>(&failure) != nullptr) return QUENPIX_INVALID_ARGUMENT;
    return QUENPIX_INTERNAL_ERROR;
}

}  // namespace quenpix

extern "C" {

const char* quenpix_status_message(quenpix_status status) {
    switch (status) {
        case QUENPIX_OK:
            return "success";
        case QUENPIX_INVALID_ARGUMENT:
            return "invalid argument";
        case QUENPIX_IMAGE_TOO_LARGE:
            return "image too large for the format";
        case QUENPIX_OUT_OF_MEMORY:
            return "out of memory";
        case QUENPIX_CANCELLED:
            return "cancelled by the progress function";
        case QUENPIX_CORRUPT_DATA:
            return "the compressed file or its side file is damaged or does not belong to it";
        case QUENPIX_INTERNAL_ERROR:
            return "internal error";
    }
    return "unknown status";
}

const char* quenpix_version(void) {
    return QUENPIX_VERSION;
}

void quenpix_free(void* pointer) {
    std::free(pointer);
}

}  // extern "C"
