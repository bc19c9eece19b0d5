// PngDecoder: container, side file, image stream, colour transform, in that order.
#include "decoder/png_decoder.hpp"

#include <istream>
#include <iterator>
#include <limits>
#include <string>

#include "decoder/container_reader.hpp"
#include "decoder/decode_messages.hpp"
#include "decoder/decode_pipeline.hpp"
#include "decoder/image_stream_decoder.hpp"
#include "decoder/side_file_reader.hpp"
#include "format/stream_constants.hpp"
#include "image/bitmap_image.hpp"
#include "image/exceptions.hpp"
#include "parallel/thread_count.hpp"

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
    const uint64_t streamBits = uint64_t{8} * contents.ImageStreamBytes();
    if (pixels > PngDecoder::kMaxPixelsPerSymbol * streamBits) {
        throw EDecodeError(decode_messages::kMorePixelsThanData + Dimensions(contents));
    }
}

// Rows into a bitmap image sized when decoding starts.
class ImageRows final : public RowTarget {
  public:
    explicit ImageRows(BitmapImage& image) noexcept : image_(image) {}
    void Start(uint32_t width, uint32_t height) override { image_.SetSize(0, 24, width, height); }
    [[nodiscard]] uint8_t* Row(uint32_t row) noexcept override { return image_.RowData(row); }
    void Finished(uint32_t) noexcept override {}

  private:
    BitmapImage& image_;
};

}  // namespace

void PngDecoder::ReadImage(std::istream& input, BitmapImage& image) {
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(input),
                                    std::istreambuf_iterator<char>()};
    DecodeImage(file, sideFile_, image);
}

void PngDecoder::DecodeImage(std::span<const uint8_t> file, std::span<const uint8_t> sideFile,
                             BitmapImage& image) {
    // Rows go into a fresh image as they are finished, which replaces the caller's only once
    // every check has passed.
    BitmapImage decoded;
    ImageRows rows(decoded);
    DecodeRows(file, sideFile, rows);
    image.Swap(decoded);
}

void PngDecoder::DecodeRows(std::span<const uint8_t> file, std::span<const uint8_t> sideFile,
                            RowTarget& target) {
    const ContainerContents contents = ReadContainer(file);
    CheckImageSize(contents);
    // One pixel wide, the context model's above-right neighbour would be the sample itself.
    if (contents.width == 1 && !contents.medResiduals) {
        throw EDecodeError(decode_messages::kOneWideNeedsMed);
    }
    SideFileReader side(sideFile);

    ImageStreamDecoder stream(contents.imageStream, side,
                              uint64_t{contents.width} * contents.height);
    const ImageLayout layout{contents.width, contents.height,
                             contents.medResiduals ? Predictor::kMed : Predictor::kContextModel,
                             contents.transform};
    target.Start(contents.width, contents.height);
    const uint32_t checksum = DecodeImageStream(
        stream, layout, target, ResolveThreadCount(threadCount_), [this](uint32_t percent) {
            // Decoding goes on whatever the progress function answers.
            (void)ReportProgressPercent(percent > 100 ? 100 : percent);
        });
    if (checksum != stream.StoredChecksum()) {
        throw EDecodeError(decode_messages::kChecksumMismatch);
    }
    stream.CheckEnd();
    matches_ = stream.Matches();
    blockCount_ = stream.BlockCount();
    transform_ = contents.transform;
    medResiduals_ = contents.medResiduals;
}

}  // namespace quenpix
