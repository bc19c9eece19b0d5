// PngDecoder: reads a compressed file and its side file back into a 24-bit image.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <vector>

#include "decoder/row_target.hpp"
#include "format/colour_transform.hpp"
#include "format/match_counters.hpp"
#include "image/coder.hpp"

namespace quenpix {

class BitmapImage;

class PngDecoder final : public BitmapImageDecoder {
  public:
    // Each stream symbol takes at least one bit and covers at most this many pixels (a
    // 258-byte match), which bounds the pixels that a stream of a given size can describe.
    static constexpr uint64_t kMaxPixelsPerSymbol = 86;

    // Threads to decode with: 0 (the default) as many as the process may run on, 1 none
    // besides the caller's. The decoded image is the same whatever the count.
    void SetThreadCount(uint32_t threads) noexcept { threadCount_ = threads; }
    [[nodiscard]] uint32_t ThreadCount() const noexcept { return threadCount_; }

    // The side file's bytes; needed before ReadImage.
    void SetSideFile(std::vector<uint8_t> bytes) noexcept { sideFile_ = std::move(bytes); }

    // Reads the compressed file to the end of `input` and decodes it with the side file into
    // `image` (24 bits per pixel). Throws EDecodeError naming the fault for malformed input;
    // `image` is left as it was unless decoding succeeds.
    void ReadImage(std::istream& input, BitmapImage& image) override;
    // The same from bytes in memory.
    void DecodeImage(std::span<const uint8_t> file, std::span<const uint8_t> sideFile,
                     BitmapImage& image);
    // The same, each row going to `target` as soon as it is decoded (see RowTarget), so that
    // nothing the size of the image is held. The rows come before the checks at the end of the
    // stream: when this throws, the target must drop what it has been given.
    void DecodeRows(std::span<const uint8_t> file, std::span<const uint8_t> sideFile,
                    RowTarget& target);

    // What the last decoded file recorded.
    [[nodiscard]] const ColourTransform& Transform() const noexcept { return transform_; }
    [[nodiscard]] bool MedResiduals() const noexcept { return medResiduals_; }
    [[nodiscard]] const MatchCounters& Matches() const noexcept { return matches_; }
    [[nodiscard]] uint32_t BlockCount() const noexcept { return blockCount_; }

  private:
    std::vector<uint8_t> sideFile_;
    uint32_t threadCount_ = 0;
    ColourTransform transform_{};
    bool medResiduals_ = false;
    MatchCounters matches_{};
    uint32_t blockCount_ = 0;
};

}  // namespace quenpix
