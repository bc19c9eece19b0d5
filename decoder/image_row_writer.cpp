// ImageRowWriter: the checksum, byte order and inverse colour transform, many pixels at a time.
#include "decoder/image_row_writer.hpp"

#include <algorithm>
#include <cstring>

#include "format/adler32.hpp"

namespace quenpix {

namespace {

constexpr size_t kChannels = 3;

}  // namespace

ImageRowWriter::ImageRowWriter(RowTarget& target, uint32_t width,
                               const ColourTransform& transform) noexcept
    : target_(target), rowBytes_(kChannels * size_t{width}) {
    // times[j][i]: how often plane byte i of a pixel goes into its stored byte j. Stored
    // bytes are blue, green, red, the plane's in reverse; then the second subtraction is
    // undone before the first, since it was applied last.
    std::array<std::array<uint8_t, kChannels>, kChannels> times{};
    for (size_t j = 0; j < kChannels; ++j)
        times[j][kChannels - 1 - j] = 1;
    const auto undo = [&times](uint8_t target, uint8_t source) {
        for (size_t i = 0; i < kChannels; ++i)
            times[target][i] = static_cast<uint8_t>(times[target][i] + times[source][i]);
    };
    const auto& slot = transform.slots;
    if (transform.HasSecond()) undo(slot[2], slot[3]);
    if (transform.HasFirst()) undo(slot[0], slot[1]);
    for (size_t b = 0; b < kBlock; ++b) {
        const size_t j = b % kChannels;
        for (size_t d = 0; d < kReach; ++d) {
            // The neighbour d - 2 bytes away is plane byte j + d - 2 of the same pixel.
            const size_t i = j + d;
            if (i < 2 || i - 2 >= kChannels) continue;
            const uint8_t count = times[j][i - 2];
            masks_.once[d][b] = count >= 1 ? 0xFF : 0;
            masks_.twice[d][b] = count >= 2 ? 0xFF : 0;
        }
    }
}

void ImageRowWriter::ConvertBlock(const uint8_t* raw, uint8_t* out) const noexcept {
    // Written for the vectoriser: fixed trip counts, masks instead of branches.
    const uint8_t* const from = raw - 2;
    uint8_t sums[kBlock];
    for (size_t b = 0; b < kBlock; ++b) {
        uint8_t sum = 0;
        for (size_t d = 0; d < kReach; ++d) {
            const uint8_t x = from[b + d];
            sum = static_cast<uint8_t>(sum + (x & masks_.once[d][b]) + (x & masks_.twice[d][b]));
        }
        sums[b] = sum;
    }
    std::memcpy(out, sums, kBlock);
}

void ImageRowWriter::WriteRow(uint32_t row, const uint8_t* raw) noexcept {
    uint8_t* out = target_.Row(row);
    const size_t rowBytes = rowBytes_;
    checksum_ = UpdateAdler32(checksum_, std::span(raw, rowBytes));
    for (size_t done = 0; done < rowBytes; done += kBlock) {
        if (done >= 2 && done + kBlock + 2 <= rowBytes) {
            ConvertBlock(raw + done, out + done);
            continue;
        }
        // A block reads two bytes on either side of it. At the row's ends they lie outside the
        // row, so the block goes through a copy with zeros there; they count for nothing anyway.
        const size_t from = done >= 2 ? done - 2 : 0;
        const size_t to = std::min(rowBytes, done + kBlock + 2);
        uint8_t in[kBlock + 4]{};
        std::memcpy(in + (from + 2 - done), raw + from, to - from);
        uint8_t converted[kBlock];
        ConvertBlock(in + 2, converted);
        std::memcpy(out + done, converted, std::min(kBlock, rowBytes - done));
    }
    target_.Finished(row);
}

}  // namespace quenpix
