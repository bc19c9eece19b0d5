// libFuzzer target: arbitrary bytes as compressed file and side file through PngDecoder.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "decoder/png_decoder.hpp"
#include "format/crc32.hpp"
#include "image/bitmap_image.hpp"
#include "image/exceptions.hpp"

namespace {

// Layout of an input: flags, side-file length (two bytes, little-endian), side file, file.
constexpr size_t kPrefixBytes = 3;
// Bit 0 of the flags: repair every chunk CRC first, so that mutations reach the stream.
constexpr uint8_t kRepairCrcs = 1;
// Bit 1: decode on two threads, the stream a few chunks ahead of the pixels.
constexpr uint8_t kTwoThreads = 2;
// Legitimate files may declare more, but allocating them only slows the search down.
constexpr uint64_t kMaxPixels = uint64_t{1} << 22;

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void RepairCrcs(std::vector<uint8_t>& file) {
    size_t at = 8;
    while (file.size() >= at + 12) {
        const uint32_t length = BigEndian32(&file[at]);
        if (file.size() - at - 12 < length) return;
        const uint32_t crc =
            quenpix::Crc32(0xFFFFFFFF, std::span(&file[at + 4], size_t{length} + 4)) ^ 0xFFFFFFFF;
        for (int i = 0; i < 4; ++i)
            file[at + 8 + length + static_cast<size_t>(i)] =
                static_cast<uint8_t>(crc >> (24 - 8 * i));
        at += 12 + size_t{length};
    }
}

bool DeclaresTooManyPixels(const std::vector<uint8_t>& file) {
    if (file.size() < 24) return false;
    return uint64_t{BigEndian32(&file[16])} * BigEndian32(&file[20]) > kMaxPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kPrefixBytes) return 0;
    const uint8_t flags = data[0];
    const size_t sideLength =
        std::min<size_t>(size_t{data[1]} | size_t{data[2]} << 8, size - kPrefixBytes);
    const std::vector<uint8_t> side(data + kPrefixBytes, data + kPrefixBytes + sideLength);
    std::vector<uint8_t> file(data + kPrefixBytes + sideLength, data + size);
    if ((flags & kRepairCrcs) != 0) RepairCrcs(file);
    if (DeclaresTooManyPixels(file)) return 0;

    quenpix::BitmapImage image;
    quenpix::PngDecoder decoder;
    decoder.SetThreadCount((flags & kTwoThreads) != 0 ? 2 : 1);
    try {
        decoder.DecodeImage(file, side, image);
    } catch (const quenpix::EDecodeError&) {
        return 0;
    }
    // A decoded image must be whole: touch both ends of its buffer.
    const size_t bytes = size_t{image.BytesPerRow()} * image.Height();
    volatile uint8_t sink = image.ImageData()[0] ^ image.ImageData()[bytes - 1];
    (void)sink;
    return 0;
}
