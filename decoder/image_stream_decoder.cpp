// ImageStreamDecoder: stream header, block headers, symbols to tokens, trailer.
#include "decoder/image_stream_decoder.hpp"

#include <algorithm>
#include <array>

#include "decoder/side_file_reader.hpp"
#include "format/deflate_codes.hpp"

namespace quenpix {

namespace {

constexpr uint32_t kMaxLiteralLengthCodes = kFirstLengthSymbol + kLengthSymbolCount;  // 286
constexpr uint32_t kMaxDistanceCodes = kDistanceSymbolCount;
// The code-length alphabet: 0..15 are lengths, then three run codes.
constexpr uint32_t kRepeatPrevious = 16;  // 3..6 copies of the previous length
constexpr uint32_t kShortZeroRun = 17;    // 3..10 zeros
constexpr uint32_t kBlockTypeDynamic = 2;
constexpr uint32_t kCompressionMethod = 8;
constexpr uint32_t kPresetDictionaryFlag = 0x20;

}  // namespace

ImageStreamDecoder::ImageStreamDecoder(std::span<const std::span<const uint8_t>> pieces,
                                       SideFileReader& sideFile, uint64_t pixelCount)
    : bits_(pieces), sideFile_(sideFile), pixelCount_(pixelCount) {}

void ImageStreamDecoder::Fill(TokenChunk& chunk) noexcept {
    uint32_t* const begin = chunk.tokens.data();
    uint32_t* out = begin;
    chunk.failure = nullptr;
    // Every step below writes at most one token.
    const uint32_t* const end = begin + chunk.tokens.size();
    try {
        pixelLimit_ = pixelsDone_ + TokenChunk::kMaxPixels;
        while (out < end && pixelsDone_ < pixelLimit_ && state_ != State::kDone) {
            switch (state_) {
                case State::kStart:
                    ReadStreamHeader();
                    *out++ = token::kProgressMark;
                    state_ = State::kBetweenBlocks;
                    break;
                case State::kBetweenBlocks:
                    if (finalBlockRead_) {
                        if (pixelsDone_ != pixelCount_) {
                            throw EDecodeError(decode_messages::kStreamEndsEarly);
                        }
                        ReadStreamTrailer();
                        state_ = State::kDone;
                        break;
                    }
                    finalBlockRead_ = ReadBlockHeader();
                    ++blockCount_;
                    state_ = State::kInBlock;
                    break;
                case State::kInBlock:
                    if (DecodeBlockData(out, end)) {
                        *out++ = token::kProgressMark;
                        state_ = State::kBetweenBlocks;
                    }
                    break;
                case State::kDone:
                    break;
            }
        }
    } catch (...) {
        chunk.failure = std::current_exception();
        state_ = State::kDone;
    }
    chunk.count = static_cast<uint32_t>(out - begin);
    chunk.last = state_ == State::kDone;
}

void ImageStreamDecoder::CheckEnd() const {
    if (bits_.BitPosition() < bits_.DataBits()) {
        throw EDecodeError(decode_messages::kDataAfterStream);
    }
    sideFile_.CheckFullyRead();
}

void ImageStreamDecoder::ReadStreamHeader() {
    const uint32_t cmf = bits_.ReadBits(8);
    const uint32_t flg = bits_.ReadBits(8);
    if ((cmf & 0x0F) != kCompressionMethod) throw EDecodeError(decode_messages::kBadStreamMethod);
    // The window field is not checked: the writer records a 2^17-byte window, beyond the
    // usual range, and distances are bounded by the pixels already decoded anyway.
    if ((cmf * 256 + flg) % 31 != 0) throw EDecodeError(decode_messages::kBadStreamCheck);
    if ((flg & kPresetDictionaryFlag) != 0) throw EDecodeError(decode_messages::kPresetDictionary);
}

bool ImageStreamDecoder::ReadBlockHeader() {
    bits_.Refill();
    const bool final = bits_.TakeBits(1) != 0;
    if (bits_.TakeBits(2) != kBlockTypeDynamic) throw EDecodeError(decode_messages::kBadBlockType);
    const uint32_t n = bits_.TakeBits(5) + kFirstLengthSymbol;
    const uint32_t m = bits_.TakeBits(5) + 1;
    const uint32_t c = bits_.TakeBits(4) + 4;
    if (n > kMaxLiteralLengthCodes) throw EDecodeError(decode_messages::kTooManyLengthCodes);
    if (m > kMaxDistanceCodes) throw EDecodeError(decode_messages::kTooManyDistanceCodes);

    std::array<uint8_t, kCodeLengthSymbolCount> codeLengthLengths{};
    for (uint32_t i = 0; i < c; ++i)
        codeLengthLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(bits_.ReadBits(3));
    codeLengthCode_.Build(codeLengthLengths, HuffmanDecoder::Empty::kRefused,
                          decode_messages::kInvalidCodeLengthCode);

    // The two tables are described one after the other; no run carries over between them.
    std::array<uint8_t, kMaxLiteralLengthCodes> literalLengths{};
    std::array<uint8_t, kMaxDistanceCodes> distanceLengths{};
    ReadCodeLengths(std::span(literalLengths.data(), n));
    ReadCodeLengths(std::span(distanceLengths.data(), m));
    if (literalLengths[kEndOfBlock] == 0) throw EDecodeError(decode_messages::kNoEndOfBlock);
    literalLengthCode_.Build(std::span(literalLengths.data(), n), HuffmanDecoder::Empty::kRefused,
                             decode_messages::kInvalidLiteralCode);
    // A block without matches sends one distance length, 0.
    distanceCode_.Build(std::span(distanceLengths.data(), m), HuffmanDecoder::Empty::kAllowed,
                        decode_messages::kInvalidDistanceCode);
    return final;
}

void ImageStreamDecoder::ReadCodeLengths(std::span<uint8_t> lengths) {
    size_t i = 0;
    while (i < lengths.size()) {
        bits_.Refill();
        const uint32_t symbol = codeLengthCode_.Decode(bits_);
        if (symbol < kRepeatPrevious) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t value = 0;
        uint32_t run = 0;
        if (symbol == kRepeatPrevious) {
            // Never written, but a plain repeat of the previous length within this table.
            if (i == 0) throw EDecodeError(decode_messages::kRepeatWithoutLength);
            value = lengths[i - 1];
            run = 3 + bits_.TakeBits(2);
        } else if (symbol == kShortZeroRun) {
            run = 3 + bits_.TakeBits(3);
        } else {
            run = 11 + bits_.TakeBits(7);  // 11..138 zeros
        }
        if (run > lengths.size() - i) throw EDecodeError(decode_messages::kRunPastTable);
        for (uint32_t k = 0; k < run; ++k)
            lengths[i++] = value;
    }
}

bool ImageStreamDecoder::DecodeBlockData(uint32_t*& out, const uint32_t* end) {
    // The positions in both files and the tokens' end are copied into locals, which stay in
    // registers across symbols: a token store could otherwise alias the members. After a fault
    // nothing more is read, so only the tokens written are handed back then.
    BitReader bits = bits_;
    SideFileReader::Cursor offsets = sideFile_.Offsets();
    uint32_t* next = out;
    uint64_t pixelsDone = pixelsDone_;
    bool blockEnded = false;
    try {
        while (next < end) {
            uint32_t symbol = kNoSymbol;
            const size_t run = std::min({static_cast<size_t>(end - next), pixelCount_ - pixelsDone,
                                         bits.UncheckedRefills(HuffmanDecoder::kMaxCodeLength),
                                         offsets.UncheckedReads(SideFileReader::kMaxOffsetBits)});
            if (run > 0) {
                BitReader::Unchecked fastBits = bits.Fast();
                SideFileReader::Cursor::Unchecked fastOffsets = offsets.Fast();
                uint32_t* const before = next;
                symbol = DecodePixelRun(fastBits, fastOffsets, next, run);
                bits.Resume(fastBits);
                offsets.Resume(fastOffsets);
                pixelsDone += static_cast<uint64_t>(next - before);
                if (symbol == kNoSymbol) continue;
            } else {
                // Near the end of a file or of the image: every step checked.
                bits.Refill();
                symbol = literalLengthCode_.Decode(bits);
            }
            if (symbol < kEndOfBlock) {
                // A colour-box number; the pixel's residuals are the box minima plus the
                // offsets that come next in the side file.
                const uint32_t residuals = sideFile_.ReadPackedResiduals(symbol, offsets);
                if (pixelsDone == pixelCount_) [[unlikely]]
                    throw EDecodeError(decode_messages::kPixelPastEnd);
                *next++ = residuals;
                ++pixelsDone;
                continue;
            }
            if (symbol == kEndOfBlock) {
                blockEnded = true;
                break;
            }
            const uint32_t index = symbol - kFirstLengthSymbol;
            if (index >= kLengthSymbolCount) throw EDecodeError(decode_messages::kBadLengthSymbol);
            // The length value carries the plane in its remainder modulo 3.
            const uint32_t value = kLengthBase[index] + bits.TakeBits(kLengthExtraBits[index]);
            const uint32_t distanceSymbol = distanceCode_.Decode(bits);
            if (distanceSymbol >= kDistanceSymbolCount) {
                throw EDecodeError(decode_messages::kBadDistanceSymbol);
            }
            const uint32_t distance =
                kDistanceBase[distanceSymbol] + bits.TakeBits(kDistanceExtraBits[distanceSymbol]);
            const uint32_t plane = value % 3;
            const uint32_t byteLength = value - plane;
            if (distance > pixelsDone) throw EDecodeError(decode_messages::kDistanceBeforeStart);
            if (byteLength / 3 > pixelCount_ - pixelsDone) {
                throw EDecodeError(decode_messages::kMatchPastEnd);
            }
            *next++ = token::Match(plane, byteLength / 3, distance);
            pixelsDone += byteLength / 3;
            ++matches_.ForPlane(plane);
            if (pixelsDone >= pixelLimit_) break;
        }
    } catch (...) {
        out = next;
        throw;
    }
    out = next;
    bits_ = bits;
    sideFile_.SetOffsets(offsets);
    pixelsDone_ = pixelsDone;
    return blockEnded;
}

uint32_t ImageStreamDecoder::DecodePixelRun(BitReader::Unchecked& bits,
                                            SideFileReader::Cursor::Unchecked& offsets,
                                            uint32_t*& next, size_t count) const {
    BitReader::Unchecked reader = bits;
    SideFileReader::Cursor::Unchecked at = offsets;
    const SideFileReader::BoxTable boxes = sideFile_.Boxes();
    uint32_t* out = next;
    uint32_t* const stop = out + count;
    uint32_t symbol = kNoSymbol;
    try {
        while (out < stop) {
            reader.Refill();
            const uint32_t decoded = literalLengthCode_.Decode(reader);
            if (decoded >= kEndOfBlock) {
                symbol = decoded;
                break;
            }
            // A colour-box number; the pixel's residuals are the box minima plus the offsets
            // that come next in the side file.
            *out++ = boxes.ReadPackedResiduals(decoded, at);
        }
    } catch (...) {
        next = out;
        throw;
    }
    next = out;
    bits = reader;
    offsets = at;
    return symbol;
}

void ImageStreamDecoder::ReadStreamTrailer() {
    bits_.AlignToByte();
    uint32_t adler = 0;
    for (int i = 0; i < 4; ++i)
        adler = adler << 8 | bits_.ReadBits(8);
    if (bits_.BitPosition() > bits_.DataBits())
        throw EDecodeError(decode_messages::kStreamTruncated);
    storedChecksum_ = adler;
}

}  // namespace quenpix
