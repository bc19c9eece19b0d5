// RawPlaneBuilder: box-coded pixels, matches in the three planes, model updates, the window.
#include "decoder/raw_plane_builder.hpp"

#include <algorithm>
#include <cstring>

#include "decoder/token_chunk.hpp"
#include "format/deflate_codes.hpp"

namespace quenpix {

namespace {

// The farthest a match reaches back, in bytes: the largest distance of the distance code.
constexpr size_t kMaxBackBytes =
    RawPlaneBuilder::kChannels *
    (kDistanceBase.back() + (size_t{1} << kDistanceExtraBits.back()) - 1);
// The longest match, in bytes, and how far past its end a copy may write (bytes that the next
// symbols overwrite).
constexpr size_t kMaxMatchBytes = 258;
constexpr size_t kCopyBlock = 16;
constexpr size_t kTailBytes = kMaxMatchBytes + kCopyBlock;
// Bytes rebuilt between two slides of the window at least: each slide moves the kept bytes
// to the front, so it should come rarely next to the work of rebuilding.
constexpr size_t kMinStretch = size_t{1} << 18;

// raw[k] = raw[k - back] for `length` bytes from dst on, in increasing order: the source may
// overlap the bytes being written. Whole blocks when the source lies a block or more back;
// may write up to a block past the end.
inline void CopyRaw(uint8_t* dst, size_t back, size_t length) noexcept {
    const uint8_t* src = dst - back;
    if (back >= kCopyBlock) {
        for (size_t k = 0; k < length; k += kCopyBlock)
            std::memcpy(dst + k, src + k, kCopyBlock);
        return;
    }
    // One or two pixels back: the pattern repeats; pixel by pixel.
    for (size_t k = 0; k < length; k += RawPlaneBuilder::kChannels) {
        dst[k] = src[k];
        dst[k + 1] = src[k + 1];
        dst[k + 2] = src[k + 2];
    }
}

// raw[k] = raw[k - back] - raw[k - back - span] + raw[k - span]: the difference `back` bytes
// back, taken against the neighbour `span` bytes back, added to this byte's own neighbour.
// Whole blocks when both sources lie a block or more back; may write up to a block past the end.
inline void CopyDifferences(uint8_t* dst, size_t back, size_t span, size_t length) noexcept {
    const uint8_t* src = dst - back;
    if (back >= kCopyBlock && span >= kCopyBlock) {
        for (size_t k = 0; k < length; k += kCopyBlock) {
            uint8_t difference[kCopyBlock];
            uint8_t against[kCopyBlock];
            uint8_t neighbour[kCopyBlock];
            std::memcpy(difference, src + k, kCopyBlock);
            std::memcpy(against, src + k - span, kCopyBlock);
            std::memcpy(neighbour, dst + k - span, kCopyBlock);
            for (size_t i = 0; i < kCopyBlock; ++i)
                difference[i] = static_cast<uint8_t>(difference[i] - against[i] + neighbour[i]);
            std::memcpy(dst + k, difference, kCopyBlock);
        }
        return;
    }
    const uint8_t* const against = src - span;
    const uint8_t* const neighbour = dst - span;
    for (size_t k = 0; k < length; ++k)
        dst[k] = static_cast<uint8_t>(src[k] - against[k] + neighbour[k]);
}

}  // namespace

RawPlaneBuilder::RawPlaneBuilder(uint32_t width, uint32_t height, Predictor predictor, RowSink sink)
    : width_(width),
      height_(height),
      rowBytes_(size_t{kChannels} * width),
      up_(static_cast<ptrdiff_t>(rowBytes_)),
      predictor_(predictor),
      sink_(std::move(sink)),
      keepBytes_(kMaxBackBytes + rowBytes_ + kChannels) {
    // In front of the image, a row and a pixel of zeros: every neighbour and every difference
    // taken before the first pixel is 0, so no symbol needs a bounds test.
    const size_t front = rowBytes_ + kChannels;
    const size_t imageBytes = rowBytes_ * height;
    windowBytes_ =
        std::min(front + imageBytes, keepBytes_ + std::max(keepBytes_, kMinStretch)) + kTailBytes;
    window_ = AllocateLarge(windowBytes_);
    std::memset(window_.get(), 0, front);
    cursor_ = window_.get() + front;
    rowEndOffset_ = front + rowBytes_;
    slideOffset_ = windowBytes_ - kTailBytes + 1;
    stop_ = window_.get() + std::min(rowEndOffset_, slideOffset_);
    frontBytes_ = front;
}

uint64_t RawPlaneBuilder::PixelsDone() const noexcept {
    return (static_cast<uint64_t>(cursor_ - window_.get()) + slidBytes_ - frontBytes_) / kChannels;
}

void RawPlaneBuilder::Apply(std::span<const uint32_t> tokens,
                            const std::function<void(uint32_t)>& progress) {
    const uint32_t* token = tokens.data();
    const uint32_t* const end = token + tokens.size();
    const uint64_t pixelCount = uint64_t{width_} * height_;
    while (token < end) {
        const uint32_t value = *token;
        if (value < token::kFirstNonPixel) {
            token = predictor_ == Predictor::kMed ? AddPixels<Predictor::kMed>(token, end)
                                                  : AddPixels<Predictor::kContextModel>(token, end);
        } else if ((value & token::kMatchFlag) != 0) {
            AddMatch(value);
            ++token;
        } else {
            progress(static_cast<uint32_t>(PixelsDone() * 100 / pixelCount));
            ++token;
        }
        if (cursor_ >= stop_) Advance();
    }
}

template <Predictor kPredictor>
const uint32_t* RawPlaneBuilder::AddPixels(const uint32_t* token, const uint32_t* end) noexcept {
    uint8_t* s = cursor_;
    const uint8_t* const stop = stop_;
    const ptrdiff_t up = up_;
    const auto next = [&](uint32_t channel, uint8_t a, const uint8_t* sample, uint32_t residual) {
        if constexpr (kPredictor == Predictor::kMed) {
            return static_cast<uint8_t>(PredictMed(a, sample[-up], sample[-up - kLeft]) +
                                        (residual & 0xFF));
        } else {
            ContextModel& model = models_[channel];
            const ContextPrediction prediction =
                model.PredictSample(a, sample[-up], sample[-up - kLeft], sample[kLeft - up]);
            const auto x =
                static_cast<uint8_t>(prediction.value + static_cast<int32_t>(residual & 0xFF));
            model.Update(prediction, x);
            return x;
        }
    };
    // The left neighbours stay in registers from one pixel to the next.
    uint8_t left0 = s[-3];
    uint8_t left1 = s[-2];
    uint8_t left2 = s[-1];
    for (; token < end && s < stop; ++token, s += kChannels) {
        const uint32_t residuals = *token;
        if (residuals >= token::kFirstNonPixel) break;
        left0 = s[0] = next(0, left0, s, residuals);
        left1 = s[1] = next(1, left1, s + 1, residuals >> 8);
        left2 = s[2] = next(2, left2, s + 2, residuals >> 16);
    }
    cursor_ = s;
    return token;
}

void RawPlaneBuilder::AddMatch(uint32_t match) noexcept {
    const size_t length = token::LengthOf(match);
    const size_t back = token::BackOf(match);
    switch (token::PlaneOf(match)) {
        case 0:
            CopyRaw(cursor_, back, length);
            break;
        case 1:
            CopyDifferences(cursor_, back, rowBytes_, length);
            break;
        default:
            CopyDifferences(cursor_, back, kChannels, length);
            break;
    }
    if (predictor_ == Predictor::kContextModel) UpdateModels(cursor_, length);
    cursor_ += length;
}

void RawPlaneBuilder::UpdateModels(const uint8_t* from, size_t count) noexcept {
    // Every model advances on every sample of its channel, whether a literal or a match
    // produced it.
    const ptrdiff_t up = up_;
    for (const uint8_t* s = from; s < from + count; s += kChannels) {
        for (uint32_t c = 0; c < kChannels; ++c) {
            ContextModel& model = models_[c];
            const uint8_t* sample = s + c;
            model.Update(model.PredictSample(sample[-kLeft], sample[-up], sample[-up - kLeft],
                                             sample[kLeft - up]),
                         *sample);
        }
    }
}

void RawPlaneBuilder::Advance() {
    uint8_t* const window = window_.get();
    if (row_ == height_) return;
    while (cursor_ >= window + rowEndOffset_) {
        const uint8_t* row = window + rowEndOffset_ - rowBytes_;
        sink_(row_, row);
        if (++row_ == height_) {
            stop_ = window + windowBytes_;
            return;
        }
        rowEndOffset_ += rowBytes_;
    }
    if (cursor_ >= window + slideOffset_) {
        // Only what the next symbols can reach is kept; it includes the row being built.
        const size_t shift = static_cast<size_t>(cursor_ - window) - keepBytes_;
        std::memmove(window, window + shift, keepBytes_);
        cursor_ -= shift;
        rowEndOffset_ -= shift;
        slidBytes_ += shift;
    }
    stop_ = window + std::min(rowEndOffset_, slideOffset_);
}

}  // namespace quenpix
