// quenpix_decode_rgb and friends: a compressed file and its side file in, RGB rows or facts out.
#include <cstdint>
#include <cstring>
#include <span>

#include "api/malloc_buffer.hpp"
#include "api/status_translation.hpp"
#include "decoder/container_reader.hpp"
#include "decoder/png_decoder.hpp"
#include "decoder/side_file_reader.hpp"
#include "image/bitmap_image.hpp"
#include "image/channel_order.hpp"
#include "quenpix/quenpix.h"

namespace quenpix {

namespace {

// NULL is only the empty buffer.
[[nodiscard]] std::span<const uint8_t> InputBytes(const uint8_t* bytes, size_t size,
                                                  const char* what) {
    if (bytes == nullptr && size > 0) throw EInvalidArgument(std::string(what) + " is NULL");
    return {bytes, bytes == nullptr ? 0 : size};
}

void CheckDecodeOptions(const quenpix_decode_options& options) {
    if (options.threads < 0) throw EInvalidArgument("threads is negative");
}

// The image's rows top to bottom, red, green, blue, without padding.
[[nodiscard]] MallocBytes RgbRows(const BitmapImage& image) {
    const size_t rowBytes = size_t{3} * image.Width();
    MallocBytes rgb = AllocateForCaller(rowBytes * image.Height());
    for (uint32_t r = 0; r < image.Height(); ++r)
        CopySwappingRedAndBlue(image.RowData(r), rgb.get() + r * rowBytes, image.Width());
    return rgb;
}

// Decodes with every check; what the interface passes in is checked first.
void DecodeChecked(const uint8_t* lsg, size_t lsgSize, const uint8_t* pls, size_t plsSize,
                   const quenpix_decode_options& settings, PngDecoder& decoder,
                   BitmapImage& image) {
    const auto file = InputBytes(lsg, lsgSize, "lsg");
    const auto side = InputBytes(pls, plsSize, "pls");
    CheckDecodeOptions(settings);
    decoder.SetThreadCount(static_cast<uint32_t>(settings.threads));
    decoder.DecodeImage(file, side, image);
}

[[nodiscard]] quenpix_decode_options DefaultsOr(const quenpix_decode_options* options) {
    quenpix_decode_options settings;
    quenpix_decode_options_init(&settings);
    return options != nullptr ? *options : settings;
}

}  // namespace

}  // namespace quenpix

extern "C" {

void quenpix_decode_options_init(quenpix_decode_options* options) {
    if (options == nullptr) return;
    *options = {};
    options->threads = 0;
}

quenpix_status quenpix_decode_rgb(const uint8_t* lsg, size_t lsg_size, const uint8_t* pls,
                                  size_t pls_size, uint8_t** rgb, uint32_t* width,
                                  uint32_t* height) {
    return quenpix_decode_rgb_with_options(lsg, lsg_size, pls, pls_size, nullptr, rgb, width,
                                           height);
}

quenpix_status quenpix_decode_rgb_with_options(const uint8_t* lsg, size_t lsg_size,
                                               const uint8_t* pls, size_t pls_size,
                                               const quenpix_decode_options* options, uint8_t** rgb,
                                               uint32_t* width, uint32_t* height) {
    using namespace quenpix;
    const quenpix_decode_options settings = DefaultsOr(options);
    if (rgb == nullptr || width == nullptr || height == nullptr) {
        CopyMessage("an output pointer is NULL", settings.message, settings.message_size);
        return QUENPIX_INVALID_ARGUMENT;
    }
    *rgb = nullptr;
    *width = 0;
    *height = 0;
    return Guarded(settings.message, settings.message_size, [&] {
        BitmapImage image;
        PngDecoder decoder;
        DecodeChecked(lsg, lsg_size, pls, pls_size, settings, decoder, image);
        MallocBytes pixels = RgbRows(image);
        *width = image.Width();
        *height = image.Height();
        *rgb = pixels.release();
    });
}

quenpix_status quenpix_read_info(const uint8_t* lsg, size_t lsg_size, quenpix_info* info) {
    using namespace quenpix;
    if (info == nullptr) return QUENPIX_INVALID_ARGUMENT;
    *info = {};
    return Guarded(nullptr, 0, [&] {
        const ContainerContents contents = ReadContainer(InputBytes(lsg, lsg_size, "lsg"));
        info->width = contents.width;
        info->height = contents.height;
        info->colour_transform = contents.transform.HasFirst() ? contents.transform.Packed() : 0;
        info->median_predictor = contents.medResiduals ? 1 : 0;
        info->idat_chunks = contents.imageChunkCount;
    });
}

quenpix_status quenpix_verify(const uint8_t* lsg, size_t lsg_size, const uint8_t* pls,
                              size_t pls_size, const quenpix_decode_options* options,
                              quenpix_stream_info* stream) {
    using namespace quenpix;
    const quenpix_decode_options settings = DefaultsOr(options);
    if (stream != nullptr) *stream = {};
    return Guarded(settings.message, settings.message_size, [&] {
        BitmapImage image;
        PngDecoder decoder;
        DecodeChecked(lsg, lsg_size, pls, pls_size, settings, decoder, image);
        if (stream != nullptr) {
            const MatchCounters& matches = decoder.Matches();
            stream->huffman_blocks = decoder.BlockCount();
            stream->matches = {matches.Raw(), matches.Vertical(), matches.Horizontal()};
            stream->colour_boxes = SideFileReader(InputBytes(pls, pls_size, "pls")).BoxCount();
        }
    });
}

}  // extern "C"
