// DecodeImageStream: the stream decoded into tokens, pixels rebuilt, rows written, on 1 or 2
// threads.
#pragma once

#include <cstdint>
#include <functional>

#include "decoder/raw_plane_builder.hpp"
#include "decoder/row_target.hpp"
#include "format/colour_transform.hpp"

namespace quenpix {

class ImageStreamDecoder;

// What the container says about the image the stream describes.
struct ImageLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    Predictor predictor = Predictor::kContextModel;
    ColourTransform transform{};
};

// Decodes the stream into `target`, which has been started with the layout's size; returns the
// Adler-32 of the raw plane. The stream is decoded into token chunks, the pixels are rebuilt
// from them and each finished row is written to the target. With one thread all of it
// alternates chunk by chunk on the calling thread. With more, a second thread decodes the
// stream a few chunks ahead while the calling thread rebuilds the pixels; with the median
// predictor the second thread also writes the finished rows, which the calling thread hands it
// in blocks, and with the context model it rebuilds the blue channel while the calling thread
// rebuilds red and green, writes the rows, and decodes the next chunk itself when it would
// otherwise wait. Only two threads ever run. `progress` is called on the calling thread. Either
// way every token before the stream's first fault is applied, then the fault is thrown, and no
// thread outlives the call.
[[nodiscard]] uint32_t DecodeImageStream(ImageStreamDecoder& stream, const ImageLayout& layout,
                                         RowTarget& target, uint32_t threads,
                                         const std::function<void(uint32_t)>& progress);

}  // namespace quenpix
