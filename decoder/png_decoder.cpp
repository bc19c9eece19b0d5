// PngDecoder: container, side file, image stream, colour transform, in that order.
#include "decoder/png_decoder.hpp"

#include <istream>
#include <iterator>
#include <limits>
#include <string>

#include "decoder/container_reader.hpp"
#include "decoder/decode_messages.hpp"
#include "decoder/image_stream_decoder.hpp"
#include "decoder/raw_plane_builder.hpp"
#include "decoder/side_file_reader.hpp"
#include "format/stream_constants.hpp"
#include "image/bitmap_image.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

namespace {

// The raw plane is held to the encoder's limit, and the image's padded rows must fit a 32-bit
// buffer size too.
constexpr uint64_t kMaxImageBytes = std::numeric_limits<uint32_t>::max();

std::string Dimensions(const ContainerContents& contents) {
    return std::to_string(contents.width) + " x " + std::to_string(contents.height) + " pixels";
}

// Refuses, before anything is allocated, images that no buffer could hold and images with more
// pixels than the image stream could describe.
void CheckImageSize(const ContainerContents& contents) {
    const uint64_t pixels = uint64_t{contents.width} * contents.height;
    const uint64_t paddedRow = (uint64_t{3} * contents.width + 3) & ~uint64_t{3};
    if (3 * pixels > kMaxPlaneBytes || paddedRow * contents.height > kMaxImageBytes) {
        throw EDecodeError(decode_messages::kImageTooLarge + Dimensions(contents));
    }
    const uint64_t streamBits = uint64_t{8} * contents.imageStream.size();
    if (pixels > PngDecoder::kMaxPixelsPerSymbol * streamBits) {
        throw EDecodeError(decode_messages::kMorePixelsThanData + Dimensions(contents));
    }
}

// The raw plane holds red, green, blue, top row first; the image stores blue, green, red. The
// colour transform is undone on the way, the second subtraction first, since it was applied last.
void FillImage(std::span<const uint8_t> raw, const ContainerContents& contents,
               BitmapImage& image) {
    image.SetSize(0, 24, contents.width, contents.height);
    const size_t rowBytes = size_t{3} * contents.width;
    const ColourTransform& transform = contents.transform;
    const auto& slot = transform.slots;
    for (uint32_t r = 0; r < contents.height; ++r) {
        const uint8_t* in = raw.data() + r * rowBytes;
        uint8_t* out = image.RowData(r);
        for (size_t p = 0; p < rowBytes; p += 3) {
            out[p] = in[p + 2];
            out[p + 1] = in[p + 1];
            out[p + 2] = in[p];
        }
        if (transform.HasSecond()) {
            for (size_t p = 0; p < rowBytes; p += 3) {
                out[p + slot[2]] = static_cast<uint8_t>(out[p + slot[2]] + out[p + slot[3]]);
            }
        }
        if (transform.HasFirst()) {
            for (size_t p = 0; p < rowBytes; p += 3) {
                out[p + slot[0]] = static_cast<uint8_t>(out[p + slot[0]] + out[p + slot[1]]);
            }
        }
    }
}

}  // namespace

void PngDecoder::ReadImage(std::istream& input, BitmapImage& image) {
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(input),
                                    std::istreambuf_iterator<char>()};
    DecodeImage(file, sideFile_, image);
}

void PngDecoder::DecodeImage(std::span<const uint8_t> file, std::span<const uint8_t> sideFile,
                             BitmapImage& image) {
    const ContainerContents contents = ReadContainer(file);
    CheckImageSize(contents);
    // One pixel wide, the context model's above-right neighbour would be the sample itself.
    if (contents.width == 1 && !contents.medResiduals) {
        throw EDecodeError(decode_messages::kOneWideNeedsMed);
    }
    SideFileReader side(sideFile);

    RawPlaneBuilder plane(contents.width, contents.height,
                          contents.medResiduals ? Predictor::kMed : Predictor::kContextModel);
    ImageStreamDecoder stream(contents.imageStream, side, plane, [this](uint32_t percent) {
        // Decoding goes on whatever the progress function answers.
        (void)ReportProgressPercent(percent > 100 ? 100 : percent);
    });
    stream.Decode();

    FillImage(plane.Plane(), contents, image);
    transform_ = contents.transform;
    medResiduals_ = contents.medResiduals;
    matches_ = stream.Matches();
    blockCount_ = stream.BlockCount();
}

}  // namespace quenpix
