// libFuzzer target: arbitrary bytes through quenpix_decode_rgb, split into a compressed file and
// a side file by the first byte pair.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "quenpix/quenpix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t split = std::min<size_t>(size - 2, size_t{data[0]} << 8 | data[1]);
    const uint8_t* lsg = data + 2;
    uint8_t* rgb = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    const quenpix_status status =
        quenpix_decode_rgb(lsg, split, lsg + split, size - 2 - split, &rgb, &width, &height);
    // Success hands over exactly width x height pixels; failure hands over nothing.
    if (status == QUENPIX_OK) {
        volatile uint8_t last = rgb[size_t{width} * height * 3 - 1];
        (void)last;
    } else if (rgb != nullptr || width != 0 || height != 0) {
        __builtin_trap();
    }
    quenpix_free(rgb);
    return 0;
}
