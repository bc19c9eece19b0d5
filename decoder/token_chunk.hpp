// TokenChunk: a stretch of decoded symbols, handed from the stream decoder to the plane builder.
#pragma once

#include <cstdint>
#include <exception>
#include <span>
#include <vector>

namespace quenpix {

// One 32-bit token per symbol, in stream order:
// - a box-coded pixel: its residuals, red | green << 8 | blue << 16 (top byte 0);
// - a match: kMatchFlag | plane << kPlaneShift | pixels << kLengthShift | distance, both counted
//   in pixels;
// - kProgressMark: a point at which the share of pixels done is reported (the stream header
//   read, the end of each block).
namespace token {

inline constexpr uint32_t kMatchFlag = 0x80000000;
inline constexpr uint32_t kProgressMark = 0x40000000;
// Everything below this is a box-coded pixel.
inline constexpr uint32_t kFirstNonPixel = 1u << 24;
inline constexpr uint32_t kPlaneShift = 26;
inline constexpr uint32_t kLengthShift = 17;
// Distances reach 32768 pixels, lengths 86.
inline constexpr uint32_t kDistanceMask = (1u << kLengthShift) - 1;
inline constexpr uint32_t kLengthMask = 0x7F;

[[nodiscard]] constexpr uint32_t Match(uint32_t plane, uint32_t pixels,
                                       uint32_t distance) noexcept {
    return kMatchFlag | plane << kPlaneShift | pixels << kLengthShift | distance;
}
[[nodiscard]] constexpr uint32_t PlaneOf(uint32_t match) noexcept {
    return (match >> kPlaneShift) & 3;
}
[[nodiscard]] constexpr uint32_t PixelsOf(uint32_t match) noexcept {
    return (match >> kLengthShift) & kLengthMask;
}
[[nodiscard]] constexpr uint32_t DistanceOf(uint32_t match) noexcept {
    return match & kDistanceMask;
}

}  // namespace token

struct TokenChunk {
    // Tokens per chunk: large enough that handing chunks over costs little next to decoding
    // them, small enough that a few in flight stay in the cache.
    static constexpr uint32_t kCapacity = 16384;
    // Pixels a chunk covers at most (a few more after a long match): with long matches, fewer
    // tokens make a chunk, so that the stages stay close together.
    static constexpr uint64_t kMaxPixels = uint64_t{1} << 16;

    std::vector<uint32_t> tokens = std::vector<uint32_t>(kCapacity);
    uint32_t count = 0;  // tokens in use
    // The stream's first fault, met right after the last token; the tokens before it still
    // count, so that everything up to the fault happens as in a decoder that stops there.
    std::exception_ptr failure;
    // The stream decoder has read the whole stream (or failed): no chunk follows.
    bool last = false;

    [[nodiscard]] std::span<const uint32_t> Tokens() const noexcept {
        return {tokens.data(), count};
    }
};

}  // namespace quenpix
