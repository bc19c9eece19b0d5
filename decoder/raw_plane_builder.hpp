// RawPlaneBuilder: rebuilds the raw plane from tokens, in a window that slides over the image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "format/context_model.hpp"
#include "image/large_buffer.hpp"

namespace quenpix {

// Which predictor turned the raw plane into the residuals the side file carries.
enum class Predictor { kContextModel, kMed };

// Which channels a builder rebuilds. Each channel's bytes depend on its own bytes only (every
// neighbour and every match lies a whole number of pixels away, each channel has its own model),
// so the channels can be rebuilt apart, on different threads:
// - kAll: red, green and blue, three bytes a pixel;
// - kRedGreen: red and green, two bytes a pixel;
// - kBlue: blue alone, one byte a pixel.
// So copies and codes cover only the channels rebuilt.
enum class Channels { kAll, kRedGreen, kBlue };

// The raw plane (top row first, red, green, blue) is held only as far back as a symbol can
// reach: the longest distance plus a row. Each row, once complete, goes to the row sink, so the
// whole plane never exists at once.
class RawPlaneBuilder final {
  public:
    static constexpr uint32_t kChannels = 3;

    // Receives each finished row, top row first: its number and its RowBytes() bytes.
    using RowSink = std::function<void(uint32_t row, const uint8_t* bytes)>;

    // The caller has checked that 3 x width x height fits in 32 bits.
    RawPlaneBuilder(uint32_t width, uint32_t height, Predictor predictor, Channels channels,
                    RowSink sink);

    // Rebuilds the pixels the tokens describe, which the stream decoder has checked to lie
    // inside the image. At each progress mark calls `progress` with the share of pixels done,
    // in percent.
    void Apply(std::span<const uint32_t> tokens, const std::function<void(uint32_t)>& progress);

    [[nodiscard]] bool Full() const noexcept { return row_ == height_; }
    [[nodiscard]] uint64_t PixelsDone() const noexcept;
    // Bytes of a row as the sink receives it: width times the bytes a pixel of the channels.
    [[nodiscard]] size_t RowBytes() const noexcept { return rowBytes_; }

  private:
    // Box-coded pixels from `token` on, while they last and the cursor stays below stop_;
    // returns the first token not used.
    // kFromAbove: context-model samples from the row's above codes.
    template <Predictor kPredictor, Channels kChannelsBuilt, bool kFromAbove>
    const uint32_t* AddPixels(const uint32_t* token, const uint32_t* end) noexcept;
    template <Predictor kPredictor>
    const uint32_t* AddPixels(const uint32_t* token, const uint32_t* end) noexcept;
    void AddMatch(uint32_t match) noexcept;
    // Runs the context models over samples that a match has already set.
    template <Channels kChannelsBuilt>
    void UpdateModels(const uint8_t* from, size_t count) noexcept;
    // The same over samples of the current row whose above codes are known.
    template <Channels kChannelsBuilt>
    void UpdateModelsFromAbove(const uint8_t* from, const uint8_t* to) noexcept;
    [[nodiscard]] uint8_t* RowStart() const noexcept {
        return window_.get() + rowEndOffset_ - rowBytes_;
    }
    // Hands finished rows on, slides the window when the next symbol might not fit, and
    // sets stop_ to the next point at which either is due.
    void Advance();
    // Sets stop_, and computes the current row's above codes once its first pixel is known.
    void SetStop() noexcept;

    uint32_t width_;
    uint32_t height_;
    Predictor predictor_;
    Channels channels_;
    size_t pixelBytes_;  // in the window and in rows
    size_t rowBytes_;
    ptrdiff_t up_;
    RowSink sink_;

    // Bytes before the cursor that stay in the window: everything a symbol or a neighbour
    // can reach, which also covers the row being built.
    size_t keepBytes_;
    size_t windowBytes_ = 0;
    // Zeros in front of the image in the window, until it first slides.
    size_t frontBytes_ = 0;
    // Not cleared beyond those zeros: every byte is written before it is read.
    LargeBuffer window_;
    uint8_t* cursor_ = nullptr;  // the next byte to rebuild
    size_t rowEndOffset_ = 0;    // where row row_ ends in the window
    size_t slideOffset_ = 0;     // from here on the next symbol might not fit
    uint8_t* stop_ = nullptr;    // the earlier of the two, or the window's end when done
    uint64_t slidBytes_ = 0;     // bytes the window has slid past
    uint32_t row_ = 0;           // the first row not yet handed on

    // For the context model: the part of each sample's combined code that the row above fixes,
    // for row codesRow_, computed once the row's first pixel is known (the last pixel's
    // above-right neighbour). Indexed like the row's bytes; the first pixel's entries are unused.
    std::vector<uint16_t> aboveCodes_;
    uint32_t codesRow_ = UINT32_MAX;
    // One model per plane channel (red, green, blue), each starting fresh.
    std::array<ContextModel, kChannels> models_{};
    const SampleTables tables_{};
};

}  // namespace quenpix
