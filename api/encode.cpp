// quenpix_encode_rgb: RGB rows in, the compressed file and its side file out, in memory.
#include <cstdint>
#include <limits>
#include <ostream>

#include "api/malloc_buffer.hpp"
#include "api/status_translation.hpp"
#include "encoder/png_encoder.hpp"
#include "format/stream_constants.hpp"
#include "image/bitmap_image.hpp"
#include "image/channel_order.hpp"
#include "image/exceptions.hpp"
#include "quenpix/quenpix.h"

namespace quenpix {

namespace {

constexpr int kMaxLevel = 3;

// Refuses, before anything is allocated, what the encoder could not take.
void CheckImageArguments(const uint8_t* rgb, uint32_t width, uint32_t height, size_t stride) {
    if (rgb == nullptr) throw EInvalidArgument("rgb is NULL");
    if (width == 0 || height == 0) throw EInvalidArgument("the image has no pixels");
    const uint64_t rowBytes = uint64_t{3} * width;
    if (stride < rowBytes) throw EInvalidArgument("stride is below 3 x width");
    // The last row ends at (height - 1) x stride + 3 x width, which must be addressable.
    const uint64_t maxSize = std::numeric_limits<size_t>::max();
    if (stride > (maxSize - rowBytes) / height) throw EInvalidArgument("stride x height overflows");
    if (rowBytes * height > kMaxPlaneBytes) {
        throw EImageTooLarge("Image too large to encode: at most 4 GiB of pixel bytes");
    }
}

void CheckOptions(const quenpix_encode_options& options) {
    if (options.level < 0 || options.level > kMaxLevel) {
        throw EInvalidArgument("level is not 0 to 3");
    }
    if (options.threads < 0) throw EInvalidArgument("threads is negative");
}

// The pixels as the encoder takes them: rows bottom-up, blue, green, red.
void FillImage(const uint8_t* rgb, uint32_t width, uint32_t height, size_t stride,
               BitmapImage& image) {
    image.SetSize(0, 24, width, height);
    for (uint32_t r = 0; r < height; ++r)
        CopySwappingRedAndBlue(rgb + r * stride, image.RowData(r), width);
}

// Hands each percentage to the caller's function; a non-zero answer stops the encoder.
void ForwardProgress(BitmapImageCoder&, void* data, uint32_t, uint32_t, uint32_t percent,
                     bool& cancel) {
    const auto& options = *static_cast<const quenpix_encode_options*>(data);
    if (options.progress(options.user, static_cast<int>(percent)) != 0) {
        cancel = true;
        throw EGraphicsAbort(messages::kAbort);
    }
}

}  // namespace

}  // namespace quenpix

extern "C" {

void quenpix_encode_options_init(quenpix_encode_options* options) {
    if (options == nullptr) return;
    *options = {};
    options->level = quenpix::kDefaultCompressionLevel;
    options->search_difference_planes = 1;
    options->replace_short_matches = 1;
    options->threads = 0;
}

quenpix_status quenpix_encode_rgb(const uint8_t* rgb, uint32_t width, uint32_t height,
                                  size_t stride, const quenpix_encode_options* options,
                                  uint8_t** lsg, size_t* lsg_size, uint8_t** pls,
                                  size_t* pls_size) {
    using namespace quenpix;
    quenpix_encode_options defaults;
    quenpix_encode_options_init(&defaults);
    const quenpix_encode_options& settings = options != nullptr ? *options : defaults;
    if (lsg == nullptr || lsg_size == nullptr || pls == nullptr || pls_size == nullptr) {
        CopyMessage("an output pointer is NULL", settings.message, settings.message_size);
        return QUENPIX_INVALID_ARGUMENT;
    }
    *lsg = nullptr;
    *pls = nullptr;
    *lsg_size = 0;
    *pls_size = 0;
    return Guarded(settings.message, settings.message_size, [&] {
        CheckImageArguments(rgb, width, height, stride);
        CheckOptions(settings);
        BitmapImage image;
        FillImage(rgb, width, height, stride, image);

        PngEncoder encoder;
        encoder.SetCompressionLevel(settings.level);
        if (settings.search_difference_planes == 0) {
            encoder.DisableVerticalPlane();
            encoder.DisableHorizontalPlane();
        }
        encoder.SetReplaceShortMatches(settings.replace_short_matches != 0);
        encoder.SetThreadCount(static_cast<uint32_t>(settings.threads));
        if (settings.progress != nullptr) {
            encoder.SetProgressFunction(ForwardProgress,
                                        const_cast<quenpix_encode_options*>(&settings));
        }
        MallocStreamBuffer compressed;
        std::ostream output(&compressed);
        // A failure to grow the buffer reaches us as itself, not as a quiet stream state.
        output.exceptions(std::ios::badbit);
        encoder.WriteImage(output, image);

        MallocBytes side = CopyForCaller(encoder.SideFile().Contents());
        if (settings.matches != nullptr) {
            const MatchCounters& counters = encoder.Counters();
            *settings.matches = {counters.Raw(), counters.Vertical(), counters.Horizontal()};
        }
        *lsg_size = compressed.size();
        *lsg = compressed.Release().release();
        *pls_size = encoder.SideFile().Contents().size();
        *pls = side.release();
    });
}

}  // extern "C"
