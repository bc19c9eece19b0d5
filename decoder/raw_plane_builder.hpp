// RawPlaneBuilder: rebuilds the raw plane pixel by pixel from residuals and matches.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "decoder/decode_messages.hpp"
#include "format/context_model.hpp"
#include "image/exceptions.hpp"
#include "image/large_buffer.hpp"

namespace quenpix {

// Which predictor turned the raw plane into the residuals the side file carries.
enum class Predictor { kContextModel, kMed };

class RawPlaneBuilder final {
  public:
    static constexpr uint32_t kChannels = 3;

    // The raw plane of a width x height image (top row first, red, green, blue), empty.
    // The caller has checked that 3 x width x height fits in 32 bits.
    RawPlaneBuilder(uint32_t width, uint32_t height, Predictor predictor);

    [[nodiscard]] bool Full() const noexcept { return position_ == totalBytes_; }
    [[nodiscard]] uint32_t PixelsDone() const noexcept { return position_ / kChannels; }
    [[nodiscard]] uint32_t PixelCount() const noexcept { return totalBytes_ / kChannels; }
    [[nodiscard]] std::span<const uint8_t> Plane() const noexcept {
        return {raw_.get(), totalBytes_};
    }

    // The next pixel from its three residuals (red, green, blue).
    void AddPixel(const uint8_t* residual) {
        if (position_ == totalBytes_) [[unlikely]]
            throw EDecodeError(decode_messages::kPixelPastEnd);
        if (position_ >= guardEnd_) [[likely]] {
            uint8_t* s = raw_.get() + position_;
            for (uint32_t c = 0; c < kChannels; ++c)
                s[c] = Reconstruct(c, s[c - kLeft], s + c, residual[c]);
        } else {
            AddGuardedPixel(residual);
        }
        position_ += kChannels;
    }

    // Pixels from residuals for as long as next(residual) fills in another three (red, green,
    // blue) and returns true. The same as AddPixel for each, but the left neighbours stay in
    // registers from one pixel to the next instead of going through memory.
    template <typename NextResidual>
    void AddPixels(NextResidual&& next) {
        uint8_t residual[kChannels];
        while (position_ < guardEnd_) {
            if (!next(residual)) return;
            AddPixel(residual);
        }
        uint8_t* s = raw_.get() + position_;
        uint8_t* const end = raw_.get() + totalBytes_;
        uint8_t left0 = s[-kLeft];
        uint8_t left1 = s[1 - kLeft];
        uint8_t left2 = s[2 - kLeft];
        while (next(residual)) {
            if (s == end) [[unlikely]]
                throw EDecodeError(decode_messages::kPixelPastEnd);
            left0 = s[0] = Reconstruct(0, left0, s, residual[0]);
            left1 = s[1] = Reconstruct(1, left1, s + 1, residual[1]);
            left2 = s[2] = Reconstruct(2, left2, s + 2, residual[2]);
            s += kChannels;
            position_ = static_cast<uint32_t>(s - raw_.get());
        }
    }

    // The next byteLength bytes (a multiple of 3) as a match `distance` pixels back in the
    // given plane (0 raw, 1 vertical difference, 2 horizontal difference).
    void AddMatch(uint32_t plane, uint32_t byteLength, uint32_t distance);

  private:
    // The sample at s from its residual and its left neighbour a, with every neighbour inside
    // the plane.
    uint8_t Reconstruct(uint32_t channel, uint8_t a, const uint8_t* s, uint8_t residual) noexcept {
        const uint8_t b = s[-up_];
        const uint8_t c = s[-up_ - kLeft];
        if (predictor_ == Predictor::kMed) {
            return static_cast<uint8_t>(PredictMed(a, b, c) + residual);
        }
        ContextModel& model = models_[channel];
        const ContextPrediction prediction = model.PredictSample(a, b, c, s[kLeft - up_]);
        const auto x = static_cast<uint8_t>(prediction.value + residual);
        model.Update(prediction, x);
        return x;
    }
    void AddGuardedPixel(const uint8_t* residual) noexcept;
    // Runs the context models over samples that a match has already set.
    void UpdateModels(uint32_t from, uint32_t to) noexcept;
    // Neighbours of position p, with 0 for every index below the start of the plane.
    [[nodiscard]] std::array<uint8_t, 4> GuardedNeighbours(uint32_t p) const noexcept;

    static constexpr ptrdiff_t kLeft = kChannels;

    // Not cleared: every byte is written, in order, before anything reads it.
    LargeBuffer raw_;
    uint32_t rowBytes_;
    ptrdiff_t up_;
    uint32_t totalBytes_;
    // From here on every neighbour index of a sample lies at or above 0.
    uint32_t guardEnd_;
    uint32_t position_ = 0;
    Predictor predictor_;
    // One model per plane channel (red, green, blue), each starting fresh.
    std::array<ContextModel, kChannels> models_{};
};

}  // namespace quenpix
