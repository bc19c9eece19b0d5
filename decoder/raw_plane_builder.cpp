// RawPlaneBuilder: the first-row pixels, matches in the three planes, model updates.
#include "decoder/raw_plane_builder.hpp"

namespace quenpix {

RawPlaneBuilder::RawPlaneBuilder(uint32_t width, uint32_t height, Predictor predictor)
    : raw_(AllocateLarge(size_t{kChannels} * width * height)),
      rowBytes_(kChannels * width),
      up_(static_cast<ptrdiff_t>(rowBytes_)),
      totalBytes_(kChannels * width * height),
      guardEnd_(rowBytes_ + kChannels),
      predictor_(predictor) {}

std::array<uint8_t, 4> RawPlaneBuilder::GuardedNeighbours(uint32_t p) const noexcept {
    const auto before = [this, p](uint32_t back) -> uint8_t {
        return p >= back ? raw_[p - back] : uint8_t{0};
    };
    // Above-right of a row's last pixel is the first pixel of its own row: the offsets are
    // fixed in the flat plane.
    const uint8_t d = p + kChannels >= rowBytes_ ? raw_[p + kChannels - rowBytes_] : uint8_t{0};
    return {before(kChannels), before(rowBytes_), before(rowBytes_ + kChannels), d};
}

void RawPlaneBuilder::AddGuardedPixel(const uint8_t* residual) noexcept {
    for (uint32_t c = 0; c < kChannels; ++c) {
        const uint32_t p = position_ + c;
        const auto [a, b, cc, d] = GuardedNeighbours(p);
        if (predictor_ == Predictor::kMed) {
            raw_[p] = static_cast<uint8_t>(PredictMed(a, b, cc) + residual[c]);
            continue;
        }
        ContextModel& model = models_[c];
        const ContextPrediction prediction = model.PredictSample(a, b, cc, d);
        raw_[p] = static_cast<uint8_t>(prediction.value + residual[c]);
        model.Update(prediction, raw_[p]);
    }
}

void RawPlaneBuilder::AddMatch(uint32_t plane, uint32_t byteLength, uint32_t distance) {
    if (distance > position_ / kChannels) throw EDecodeError(decode_messages::kDistanceBeforeStart);
    if (byteLength > totalBytes_ - position_) throw EDecodeError(decode_messages::kMatchPastEnd);
    const uint32_t back = kChannels * distance;
    const uint32_t end = position_ + byteLength;
    uint8_t* raw = raw_.get();
    // Byte by byte in increasing order: a match may overlap the bytes it produces. In a
    // difference plane the copied value is a difference; the byte follows from it and the
    // already decoded neighbour the difference was taken against.
    if (plane == 0) {
        for (uint32_t k = position_; k < end; ++k)
            raw[k] = raw[k - back];
    } else {
        const uint32_t span = plane == 1 ? rowBytes_ : kChannels;
        uint32_t k = position_;
        // Differences of the first row (vertical) or first pixel (horizontal) are the bytes.
        for (; k < end && k - back < span; ++k) {
            raw[k] = static_cast<uint8_t>(raw[k - back] + (k >= span ? raw[k - span] : 0));
        }
        for (; k < end; ++k) {
            raw[k] = static_cast<uint8_t>(raw[k - back] - raw[k - back - span] + raw[k - span]);
        }
    }
    if (predictor_ == Predictor::kContextModel) UpdateModels(position_, end);
    position_ = end;
}

void RawPlaneBuilder::UpdateModels(uint32_t from, uint32_t to) noexcept {
    // Every model advances on every sample of its channel, whether a literal or a match
    // produced it.
    uint32_t p = from;
    for (; p < to && p < guardEnd_; ++p) {
        const auto [a, b, c, d] = GuardedNeighbours(p);
        ContextModel& model = models_[p % kChannels];
        model.Update(model.PredictSample(a, b, c, d), raw_[p]);
    }
    const uint8_t* s = raw_.get() + p;
    uint32_t channel = p % kChannels;
    for (; p < to; ++p, ++s) {
        ContextModel& model = models_[channel];
        model.Update(model.PredictSample(s[-kLeft], s[-up_], s[-up_ - kLeft], s[kLeft - up_]), *s);
        channel = channel == kChannels - 1 ? 0 : channel + 1;
    }
}

}  // namespace quenpix
