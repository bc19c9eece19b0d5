// PngEncoder: the encoder object, its settings and the encode pipeline.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "colourbox/side_file.hpp"
#include "format/colour_transform.hpp"
#include "image/coder.hpp"
#include "stream/block_encoder.hpp"

namespace quenpix {

inline constexpr int32_t kDefaultCompressionLevel = 2;

class PngEncoder final : public BitmapImageEncoder {
  public:
    PngEncoder() = default;

    // 0: no match search, 1: 64 candidates, 2: 128, 3: unbounded. Throws EPngError
    // "Invalid Compression Level" outside 0..3 and keeps the previous level.
    void SetCompressionLevel(int32_t level);
    void DisableVerticalPlane() noexcept { useVerticalPlane_ = false; }
    void DisableHorizontalPlane() noexcept { useHorizontalPlane_ = false; }
    // Off (-R): every match found is written as a match.
    void SetReplaceShortMatches(bool on) noexcept { replaceShortMatches_ = on; }
    // Threads that one WriteImage may use: 1 (the default) works on the calling thread alone,
    // 0 on as many as the process may run on (its CPU affinity), any other count on that many
    // but never on more than the CPUs the process may run on. The files, the counters and the
    // progress reports are the same at every count; the progress function is always called
    // from the thread that called WriteImage.
    void SetThreadCount(uint32_t threads) noexcept { threadCount_ = threads; }
    // Pixels per stretch of the shared match search; 0 (the default) leaves the choice to the
    // encoder. Smaller stretches share the work more evenly, but each first reads the window
    // of positions before it. The output never depends on it.
    void SetSearchStretch(uint32_t pixels) noexcept { searchStretch_ = pixels; }

    [[nodiscard]] int32_t CompressionLevel() const noexcept { return compressionLevel_; }
    [[nodiscard]] bool UsesVerticalPlane() const noexcept { return useVerticalPlane_; }
    [[nodiscard]] bool UsesHorizontalPlane() const noexcept { return useHorizontalPlane_; }
    [[nodiscard]] bool ReplacesShortMatches() const noexcept { return replaceShortMatches_; }
    [[nodiscard]] uint32_t ThreadCount() const noexcept { return threadCount_; }

    // Encodes a 24-bit image to `output`; the image's pixels are changed by the colour
    // transform. Afterwards the side file and the match counters describe this image.
    // Throws EImageTooLarge (nothing written) for images the encoder cannot hold.
    void WriteImage(std::ostream& output, BitmapImage& image) override;

    // Refuses, before anything is written, images with no pixels, other bit counts, or
    // sizes beyond the encoder's 32-bit counters.
    static void CheckEncodable(const BitmapImage& image);

    // Results of the last WriteImage.
    [[nodiscard]] const MatchCounters& Counters() const noexcept { return counters_; }
    // The matches the search found, before any short one was written as pixels.
    [[nodiscard]] const MatchCounters& FoundMatches() const noexcept { return found_; }
    [[nodiscard]] const SideFileBuffer& SideFile() const noexcept { return sideFile_; }
    [[nodiscard]] const ColourTransform& Transform() const noexcept { return transform_; }
    [[nodiscard]] bool ContextModelChosen() const noexcept { return contextModelChosen_; }
    void FreeSideFile() noexcept { sideFile_.FreeSideFile(); }

  private:
    bool useVerticalPlane_ = true;
    bool useHorizontalPlane_ = true;
    bool replaceShortMatches_ = true;
    int32_t compressionLevel_ = kDefaultCompressionLevel;
    uint32_t threadCount_ = 1;
    uint32_t searchStretch_ = 0;

    ColourTransform transform_{};
    bool contextModelChosen_ = true;
    MatchCounters counters_{};
    MatchCounters found_{};
    SideFileBuffer sideFile_{};
};

}  // namespace quenpix
