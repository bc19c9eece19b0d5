// RawPlaneBuilder: box-coded pixels, matches in the three planes, model updates, the window.
#include "decoder/raw_plane_builder.hpp"

#include <algorithm>
#include <cstring>

#include "decoder/token_chunk.hpp"
#include "format/deflate_codes.hpp"
#include "format/stream_constants.hpp"

namespace quenpix {

namespace {

// The farthest a match reaches back, in pixels: the largest distance of the distance code.
constexpr size_t kMaxDistance = kDistanceBase.back() + (size_t{1} << kDistanceExtraBits.back()) - 1;
// How far past its end a match's copy may write (bytes that the next symbols overwrite).
constexpr size_t kCopyBlock = 16;
constexpr size_t kTailBytes = kMaxMatchBytes + kCopyBlock;
// Bytes rebuilt between two slides of the window at least: each slide moves the kept bytes
// to the front, so it should come rarely next to the work of rebuilding.
constexpr size_t kMinStretch = size_t{1} << 18;

// The channels rebuilt: the model of the first, how many, and the bytes a pixel takes in the
// window; channel first + c sits at byte c of a pixel.
struct ChannelSet {
    uint32_t first;
    uint32_t count;
    uint32_t pixelBytes;
};

constexpr ChannelSet SetOf(Channels channels) noexcept {
    switch (channels) {
        case Channels::kRedGreen:
            return {0, 2, 2};
        case Channels::kBlue:
            return {2, 1, 1};
        case Channels::kAll:
            break;
    }
    return {0, RawPlaneBuilder::kChannels, RawPlaneBuilder::kChannels};
}

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
    // A few pixels back: the pattern repeats, a byte at a time.
    for (size_t k = 0; k < length; ++k)
        dst[k] = src[k];
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

RawPlaneBuilder::RawPlaneBuilder(uint32_t width, uint32_t height, Predictor predictor,
                                 Channels channels, RowSink sink)
    : width_(width),
      height_(height),
      predictor_(predictor),
      channels_(channels),
      pixelBytes_(SetOf(channels).pixelBytes),
      rowBytes_(pixelBytes_ * width),
      up_(static_cast<ptrdiff_t>(rowBytes_)),
      sink_(std::move(sink)),
      // Two rows: the row above the one being built stays whole until its above codes are
      // computed.
      keepBytes_(pixelBytes_ * kMaxDistance + 2 * rowBytes_ + pixelBytes_) {
    // In front of the image, a row and a pixel of zeros: every neighbour and every difference
    // taken before the first pixel is 0, so no symbol needs a bounds test.
    const size_t front = rowBytes_ + pixelBytes_;
    const size_t imageBytes = rowBytes_ * height;
    windowBytes_ =
        std::min(front + imageBytes, keepBytes_ + std::max(keepBytes_, kMinStretch)) + kTailBytes;
    window_ = AllocateLarge(windowBytes_);
    std::memset(window_.get(), 0, front);
    cursor_ = window_.get() + front;
    rowEndOffset_ = front + rowBytes_;
    slideOffset_ = windowBytes_ - kTailBytes + 1;
    frontBytes_ = front;
    // CompleteCodes reads whole blocks of 16 codes, up to 15 past the row's end.
    if (predictor == Predictor::kContextModel) aboveCodes_.resize(rowBytes_ + 16);
    SetStop();
}

uint64_t RawPlaneBuilder::PixelsDone() const noexcept {
    return (static_cast<uint64_t>(cursor_ - window_.get()) + slidBytes_ - frontBytes_) /
           pixelBytes_;
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
    // Past a row's first pixel the context model takes the row's above codes (SetStop computes
    // them as soon as that pixel is known, and stops the pixels there until it is).
    const bool fromAbove = kPredictor == Predictor::kContextModel && cursor_ != RowStart();
    switch (channels_) {
        case Channels::kRedGreen:
            return fromAbove ? AddPixels<kPredictor, Channels::kRedGreen, true>(token, end)
                             : AddPixels<kPredictor, Channels::kRedGreen, false>(token, end);
        case Channels::kBlue:
            return fromAbove ? AddPixels<kPredictor, Channels::kBlue, true>(token, end)
                             : AddPixels<kPredictor, Channels::kBlue, false>(token, end);
        case Channels::kAll:
            break;
    }
    return fromAbove ? AddPixels<kPredictor, Channels::kAll, true>(token, end)
                     : AddPixels<kPredictor, Channels::kAll, false>(token, end);
}

template <Predictor kPredictor, Channels kChannelsBuilt, bool kFromAbove>
const uint32_t* RawPlaneBuilder::AddPixels(const uint32_t* token, const uint32_t* end) noexcept {
    constexpr ChannelSet kSet = SetOf(kChannelsBuilt);
    constexpr auto kLeft = static_cast<ptrdiff_t>(kSet.pixelBytes);
    uint8_t* s = cursor_;
    const ptrdiff_t up = up_;
    // The row's above codes from the cursor on: only the context model past a row's first pixel
    // has them.
    const uint16_t* codes = kFromAbove ? aboveCodes_.data() + (s - RowStart()) : nullptr;
    // The sample at `sample` of model `channel` from its left neighbour and its residual. Bytes
    // are held in 32 bits, so that nothing is widened again on the way from one to the next.
    const auto next = [&](uint32_t channel, uint32_t at, uint32_t a, const uint8_t* sample,
                          uint32_t residuals) -> uint32_t {
        const uint32_t residual = (residuals >> (8 * channel)) & 0xFF;
        if constexpr (kPredictor == Predictor::kMed) {
            return (MedianOf(static_cast<int32_t>(a), sample[-up], sample[-up - kLeft]) +
                    residual) &
                   0xFF;
        } else {
            ContextModel& model = models_[channel];
            if constexpr (kFromAbove) {
                const CodePrediction prediction =
                    model.PredictFromAbove(tables_, codes[at], a, sample[-up], sample[-up - kLeft]);
                const auto x =
                    static_cast<uint8_t>(prediction.value + static_cast<int32_t>(residual));
                model.UpdateFromResidual(tables_, prediction, x, residual);
                return x;
            } else {
                const ContextPrediction prediction = model.PredictSample(
                    static_cast<uint8_t>(a), sample[-up], sample[-up - kLeft], sample[kLeft - up]);
                const auto x =
                    static_cast<uint8_t>(prediction.value + static_cast<int32_t>(residual));
                model.Update(prediction, x);
                return x;
            }
        }
    };
    // The left neighbours stay in registers from one pixel to the next.
    std::array<uint32_t, kSet.count> left{};
    for (uint32_t c = 0; c < kSet.count; ++c)
        left[c] = s[c - kLeft];
    // One bound for both ends: a pixel per token, and none at or past the stop.
    const auto room = static_cast<size_t>(stop_ - s + kLeft - 1) / kSet.pixelBytes;
    const uint32_t* const last = token + std::min(room, static_cast<size_t>(end - token));
    // Counted up to zero from below, so that the bound takes no register of its own.
    ptrdiff_t i = token - last;
    for (; i < 0; ++i, s += kSet.pixelBytes) {
        const uint32_t residuals = last[i];
        if (residuals >= token::kFirstNonPixel) break;
#pragma GCC unroll 3
        for (uint32_t c = 0; c < kSet.count; ++c) {
            left[c] = next(kSet.first + c, c, left[c], s + c, residuals);
            s[c] = static_cast<uint8_t>(left[c]);
        }
        if constexpr (kFromAbove) codes += kSet.pixelBytes;
    }
    cursor_ = s;
    return last + i;
}

void RawPlaneBuilder::AddMatch(uint32_t match) noexcept {
    const size_t length = token::PixelsOf(match) * pixelBytes_;
    const size_t back = token::DistanceOf(match) * pixelBytes_;
    switch (token::PlaneOf(match)) {
        case 0:
            CopyRaw(cursor_, back, length);
            break;
        case 1:
            CopyDifferences(cursor_, back, rowBytes_, length);
            break;
        default:
            CopyDifferences(cursor_, back, pixelBytes_, length);
            break;
    }
    if (predictor_ == Predictor::kContextModel) {
        // The current row's samples from its above codes, once they are known; the rest, and
        // rows after it, from their neighbours.
        const uint8_t* const rowStart = RowStart();
        const uint8_t* const split =
            cursor_ == rowStart ? cursor_
                                : std::min<const uint8_t*>(cursor_ + length, rowStart + rowBytes_);
        const auto count = static_cast<size_t>(cursor_ + length - split);
        switch (channels_) {
            case Channels::kRedGreen:
                UpdateModelsFromAbove<Channels::kRedGreen>(cursor_, split);
                UpdateModels<Channels::kRedGreen>(split, count);
                break;
            case Channels::kBlue:
                UpdateModelsFromAbove<Channels::kBlue>(cursor_, split);
                UpdateModels<Channels::kBlue>(split, count);
                break;
            case Channels::kAll:
                UpdateModelsFromAbove<Channels::kAll>(cursor_, split);
                UpdateModels<Channels::kAll>(split, count);
                break;
        }
    }
    cursor_ += length;
}

template <Channels kChannelsBuilt>
void RawPlaneBuilder::UpdateModels(const uint8_t* from, size_t count) noexcept {
    // Every model advances on every sample of its channel, whether a literal or a match
    // produced it.
    constexpr ChannelSet kSet = SetOf(kChannelsBuilt);
    constexpr auto kLeft = static_cast<ptrdiff_t>(kSet.pixelBytes);
    const ptrdiff_t up = up_;
    for (const uint8_t* s = from; s < from + count; s += kSet.pixelBytes) {
#pragma GCC unroll 3
        for (uint32_t c = 0; c < kSet.count; ++c) {
            ContextModel& model = models_[kSet.first + c];
            const uint8_t* sample = s + c;
            model.Update(model.PredictSample(sample[-kLeft], sample[-up], sample[-up - kLeft],
                                             sample[kLeft - up]),
                         *sample);
        }
    }
}

template <Channels kChannelsBuilt>
void RawPlaneBuilder::UpdateModelsFromAbove(const uint8_t* from, const uint8_t* to) noexcept {
    // The codes and the differences from the median come many samples at a time; what is left
    // for each sample is the chain through its model.
    constexpr ChannelSet kSet = SetOf(kChannelsBuilt);
    constexpr auto kLeft = static_cast<ptrdiff_t>(kSet.pixelBytes);
    const ptrdiff_t up = up_;
    const auto count = static_cast<size_t>(to - from);
    // CompleteCodes writes whole blocks of 16; the window has the bytes past `to` it reads.
    std::array<uint16_t, kMaxMatchBytes + 16> codes;
    std::array<uint8_t, kMaxMatchBytes + 16> differences;
    CompleteCodes(from, rowBytes_, kSet.pixelBytes, count, aboveCodes_.data() + (from - RowStart()),
                  codes.data(), differences.data());
    for (size_t i = 0; i < count; i += kSet.pixelBytes) {
#pragma GCC unroll 3
        for (uint32_t c = 0; c < kSet.count; ++c) {
            const size_t k = i + c;
            ContextModel& model = models_[kSet.first + c];
            if (!model.UpdateFromDifference(tables_, codes[k], differences[k])) [[unlikely]] {
                const uint8_t* sample = from + k;
                model.Update(model.PredictSample(sample[-kLeft], sample[-up], sample[-up - kLeft],
                                                 sample[kLeft - up]),
                             *sample);
            }
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
    SetStop();
}

void RawPlaneBuilder::SetStop() noexcept {
    stop_ = window_.get() + std::min(rowEndOffset_, slideOffset_);
    if (predictor_ != Predictor::kContextModel) return;
    uint8_t* const rowStart = RowStart();
    if (cursor_ == rowStart) {
        // The last pixel's above-right neighbour is the row's first pixel: the above codes
        // wait for it.
        stop_ = std::min(stop_, rowStart + pixelBytes_);
    } else if (codesRow_ != row_) {
        ComputeAboveCodes(rowStart + pixelBytes_, rowBytes_, pixelBytes_, rowBytes_ - pixelBytes_,
                          aboveCodes_.data() + pixelBytes_);
        codesRow_ = row_;
    }
}

}  // namespace quenpix
