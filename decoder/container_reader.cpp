// ReadContainer: chunk framing, CRCs, IHDR, cmOd, ncPr, IDAT and IEND.
#include "decoder/container_reader.hpp"

#include <algorithm>
#include <string>
#include <string_view>

#include "decoder/decode_messages.hpp"
#include "format/container.hpp"
#include "format/crc32.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

namespace {

constexpr size_t kChunkFrameBytes = 12;  // length, type, CRC
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;
constexpr size_t kHeaderBytes = 13;
constexpr uint8_t kMaxChannel = 2;

uint32_t BigEndian32(const uint8_t* p) noexcept {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

struct Chunk {
    std::string_view type;
    std::span<const uint8_t> data;
};

// The message followed by the chunk type, with any byte that is not a printable letter shown
// as '?', so that a damaged type cannot garble the one-line message.
[[noreturn]] void Fail(const char* message, std::string_view type) {
    std::string text(message);
    for (const char c : type)
        text += (c >= 0x21 && c <= 0x7E) ? c : '?';
    throw EDecodeError(text);
}

// Splits off the chunk at `at` and checks its framing and CRC.
Chunk ReadChunk(std::span<const uint8_t> file, size_t& at) {
    if (file.size() - at < kChunkFrameBytes) throw EDecodeError(decode_messages::kChunkTruncated);
    const uint32_t length = BigEndian32(&file[at]);
    if (length > kMaxChunkLength) throw EDecodeError(decode_messages::kChunkTooLong);
    if (file.size() - at - kChunkFrameBytes < length) {
        throw EDecodeError(decode_messages::kChunkTruncated);
    }
    const std::span<const uint8_t> typeAndData = file.subspan(at + 4, 4 + size_t{length});
    const std::string_view type(reinterpret_cast<const char*>(typeAndData.data()), 4);
    const uint32_t stored = BigEndian32(&file[at + 8 + length]);
    if ((Crc32(0xFFFFFFFF, typeAndData) ^ 0xFFFFFFFF) != stored) {
        Fail(decode_messages::kCrcMismatch, type);
    }
    at += kChunkFrameBytes + length;
    return {type, typeAndData.subspan(4)};
}

void ReadHeader(std::span<const uint8_t> data, ContainerContents& contents) {
    if (data.size() != kHeaderBytes) Fail(decode_messages::kBadChunkLength, "IHDR");
    contents.width = BigEndian32(&data[0]);
    contents.height = BigEndian32(&data[4]);
    if (data[8] != 8) throw EDecodeError(decode_messages::kBadBitDepth);
    if (data[9] != 2) throw EDecodeError(decode_messages::kBadColourType);
    if (data[10] != kCompressionMethod) throw EDecodeError(decode_messages::kBadCompressionMethod);
    if (data[11] != 0) throw EDecodeError(decode_messages::kBadFilterMethod);
    if (data[12] != 0) throw EDecodeError(decode_messages::kBadInterlaceMethod);
    if (contents.width == 0 || contents.height == 0) {
        throw EDecodeError(decode_messages::kEmptyImage);
    }
}

void ReadTransform(std::span<const uint8_t> data, ContainerContents& contents) {
    if (data.size() != 1) Fail(decode_messages::kBadChunkLength, "cmOd");
    contents.transform = ColourTransform::FromPacked(data[0]);
    if (std::ranges::any_of(contents.transform.slots, [](uint8_t c) { return c > kMaxChannel; })) {
        throw EDecodeError(decode_messages::kBadTransformChannel);
    }
}

}  // namespace

ContainerContents ReadContainer(std::span<const uint8_t> file) {
    if (file.size() < kFileSignature.size() ||
        !std::equal(kFileSignature.begin(), kFileSignature.end(), file.begin())) {
        throw EDecodeError(decode_messages::kNoSignature);
    }
    size_t at = kFileSignature.size();
    ContainerContents contents;

    // The order the writer keeps: IHDR, cmOd?, ncPr?, IDAT+, IEND.
    enum class Stage { kStart, kHeader, kTransform, kPredictor, kImageData, kEnd };
    Stage stage = Stage::kStart;
    const auto enter = [&stage](Stage next, std::string_view type) {
        if (next < stage || (next == stage && next != Stage::kImageData)) {
            Fail(next == stage ? decode_messages::kDuplicateChunk
                               : decode_messages::kChunkOutOfOrder,
                 type);
        }
        stage = next;
    };
    while (stage != Stage::kEnd) {
        if (at == file.size()) {
            throw EDecodeError(stage == Stage::kImageData ? decode_messages::kNoIend
                                                          : decode_messages::kNoIdat);
        }
        const Chunk chunk = ReadChunk(file, at);
        if (stage == Stage::kStart && chunk.type != "IHDR") {
            throw EDecodeError(decode_messages::kFirstChunkNotIhdr);
        }
        if (chunk.type == "IHDR") {
            enter(Stage::kHeader, chunk.type);
            ReadHeader(chunk.data, contents);
        } else if (chunk.type == "cmOd") {
            enter(Stage::kTransform, chunk.type);
            ReadTransform(chunk.data, contents);
        } else if (chunk.type == "ncPr") {
            enter(Stage::kPredictor, chunk.type);
            if (!chunk.data.empty()) Fail(decode_messages::kBadChunkLength, chunk.type);
            contents.medResiduals = true;
        } else if (chunk.type == "IDAT") {
            enter(Stage::kImageData, chunk.type);
            contents.imageStream.push_back(chunk.data);
        } else if (chunk.type == "IEND") {
            if (stage != Stage::kImageData) throw EDecodeError(decode_messages::kNoIdat);
            enter(Stage::kEnd, chunk.type);
            if (!chunk.data.empty()) Fail(decode_messages::kBadChunkLength, chunk.type);
        } else {
            Fail(decode_messages::kUnknownChunk, chunk.type);
        }
    }
    if (at != file.size()) throw EDecodeError(decode_messages::kDataAfterIend);
    contents.imageChunkCount = static_cast<uint32_t>(contents.imageStream.size());

    return contents;
}

}  // namespace quenpix
