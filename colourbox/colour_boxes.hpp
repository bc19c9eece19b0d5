// Colour-box analysis: partitions the residual triples of listed pixels into at most 256 boxes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace quenpix {

inline constexpr uint32_t kMaxColourBoxes = 256;

// Per box and channel (0, 1, 2 = the residual plane's byte order) the exact extremes of the
// box's pixels and the width in bits of the offsets that the side file stores.
struct ColourBoxTable {
    uint16_t boxCount = 0;
    std::array<std::array<uint8_t, kMaxColourBoxes>, 3> minimum{};
    std::array<std::array<uint8_t, kMaxColourBoxes>, 3> maximum{};
    std::array<std::array<uint8_t, kMaxColourBoxes>, 3> width{};
    // Sum over boxes of pixel count x (width0 + width1 + width2); 64-bit so that it never wraps.
    uint64_t offsetBitCount = 0;

    // width0 + width1 + width2 of box b: the side-file bits of one pixel in it.
    [[nodiscard]] uint32_t PixelBits(uint32_t box) const noexcept {
        return uint32_t{width[0][box]} + width[1][box] + width[2][box];
    }
};

// Per-channel lower and upper bounds: a box's exact extremes, or the lower part of a proposed cut.
struct ChannelBounds {
    std::array<uint8_t, 3> low{};
    std::array<uint8_t, 3> high{};
};

// Bits needed to code x distinct values: 0 for x <= 1, else the least b with 2^b >= x (max 27).
[[nodiscard]] uint32_t BitsForCount(uint32_t x) noexcept;
// ln(x) x 1.4426950409 in double precision (deliberately not the exact 1 / ln 2).
[[nodiscard]] double LogBase2(double x) noexcept;

// The gain in bits of the best single cut of a box along one channel, 0 when no cut pays (and for
// boxes of at most 40 pixels or a single value triple, which leave `split` untouched). Otherwise
// `split` becomes the box's bounds with the chosen channel's high bound lowered to the cut value.
// The box's chain is its `count` pixels reached from `first` through `pixelLinks`.
[[nodiscard]] uint32_t FindBestSplit(const ChannelBounds& box, ChannelBounds& split, uint32_t count,
                                     uint32_t first, std::span<const uint32_t> pixelLinks,
                                     std::span<const uint8_t> residual) noexcept;

// One listed pixel for the analysis: its number in the low 32 bits, its residual triple above.
[[nodiscard]] uint64_t ColourBoxElement(uint32_t pixel, const uint8_t* values) noexcept;

// Partitions the listed pixels by their residual triples, writes the box number of every one into
// `boxIndexPlane` and fills `table`. Reorders `elements`, which must not be empty.
void BuildColourBoxes(std::span<uint64_t> elements, std::span<uint8_t> boxIndexPlane,
                      ColourBoxTable& table);

// The distinct residual triples of the listed pixels with their counts. The partition depends on
// the pixels' values only, so it can be computed on the distinct triples, which a photograph has
// a few ten thousand of for millions of pixels.
class DistinctTriples final {
  public:
    // Gives up (Add returns false) beyond `maxDistinct` triples.
    explicit DistinctTriples(uint32_t maxDistinct);

    // Counts one pixel's triple; false once there are too many distinct ones.
    [[nodiscard]] bool Add(const uint8_t* values);
    // Adds the counts of triples counted apart from the pixels that follow these: the triples
    // new here are taken in their order there, as counting all the pixels in turn would take
    // them. False once there are too many distinct ones.
    [[nodiscard]] bool Merge(const DistinctTriples& later);
    // The partition BuildColourBoxes would make of the pixels counted.
    void BuildColourBoxes(ColourBoxTable& table);
    // The box of a counted triple, after BuildColourBoxes.
    [[nodiscard]] uint8_t BoxOf(const uint8_t* values) const noexcept;

  private:
    static constexpr uint32_t kInitialSlots = 4096;
    [[nodiscard]] uint32_t SlotOf(uint32_t key) const noexcept;
    // Doubles the slots when more than half are taken.
    void Grow();

    // Open addressing; a slot holds its triple (packed, bit 24 set) and its index in keys_, so
    // that a look-up reads one place only. Key 0 marks an empty slot.
    struct Slot {
        uint32_t key;
        uint32_t index;
    };

    uint32_t maxDistinct_;
    std::vector<Slot> slots_;
    std::vector<uint32_t> keys_;
    std::vector<uint32_t> counts_;
    std::vector<uint8_t> boxes_;
};

// Partitions the pixels listed in `pixelLinks` (a list from pixel 0, ended by a link of 0) by
// their residual triples, as above. Writes the box number of every listed pixel into
// `boxIndexPlane` and fills `table`. `residual` holds 3 bytes per pixel.
void BuildColourBoxes(std::span<const uint8_t> residual, std::span<uint32_t> pixelLinks,
                      std::span<uint8_t> boxIndexPlane, ColourBoxTable& table);

}  // namespace quenpix
