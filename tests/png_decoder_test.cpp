// Tests of PngDecoder: the reference files, symbol meanings on crafted streams, malformed input.
#include "decoder/png_decoder.hpp"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "decoded_image_support.hpp"
#include "decoder/decode_messages.hpp"
#include "decoder/row_target.hpp"
#include "encoder/chunk_writer.hpp"
#include "encoder/png_encoder.hpp"
#include "format/adler32.hpp"
#include "format/crc32.hpp"
#include "format/deflate_codes.hpp"
#include "image/exceptions.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

using Bytes = std::vector<uint8_t>;

using testing::Chunk;
using testing::PutBe;

// A file with the given header size, ncPr when `med`, and the stream in one IDAT chunk.
Bytes File(uint32_t width, uint32_t height, bool med, const Bytes& stream) {
    Bytes file(kFileSignature.begin(), kFileSignature.end());
    Bytes header;
    PutBe(header, width);
    PutBe(header, height);
    header.insert(header.end(), {8, 2, 1, 0, 0});
    for (const Bytes& chunk : {Chunk("IHDR", header), med ? Chunk("ncPr", {}) : Bytes{},
                               Chunk("IDAT", stream), Chunk("IEND", {})}) {
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    return file;
}

// Writes image streams bit by bit, least significant bit first, with dynamic blocks whose
// code lengths are given directly.
class StreamWriter {
  public:
    StreamWriter() {
        Put(0x98, 8);
        Put(0x94, 8);
    }
    void Put(uint32_t value, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i, ++bit_) {
            if (bit_ % 8 == 0) bytes_.push_back(0);
            bytes_.back() |= static_cast<uint8_t>((value >> i & 1) << (bit_ % 8));
        }
    }
    // The header of a dynamic block. The code-length code gives symbols 0..15 four bits each,
    // so every length is sent as itself.
    void Block(bool final, const Bytes& literalLengths, const Bytes& distanceLengths) {
        Put(final ? 1 : 0, 1);
        Put(2, 2);
        Put(static_cast<uint32_t>(literalLengths.size() - 257), 5);
        Put(static_cast<uint32_t>(distanceLengths.size() - 1), 5);
        Put(19 - 4, 4);
        for (const uint32_t symbol : kCodeLengthOrder)
            Put(symbol < 16 ? 4 : 0, 3);
        for (const Bytes* lengths : {&literalLengths, &distanceLengths}) {
            for (const uint8_t length : *lengths)
                PutCode(length, 4);
        }
        literal_ = Codes(literalLengths);
        distance_ = Codes(distanceLengths);
    }
    void Literal(uint32_t symbol) { PutCode(literal_[symbol].code, literal_[symbol].length); }
    void Distance(uint32_t symbol) { PutCode(distance_[symbol].code, distance_[symbol].length); }
    // Aligns and appends the checksum of the raw plane.
    Bytes Finish(const Bytes& raw) {
        bit_ = (bit_ + 7) / 8 * 8;
        PutBe(bytes_, UpdateAdler32(1, raw));
        return bytes_;
    }

  private:
    struct Code {
        uint32_t code = 0;
        uint32_t length = 0;
    };
    static std::vector<Code> Codes(const Bytes& lengths) {
        std::vector<Code> codes(lengths.size());
        uint32_t code = 0;
        for (uint32_t length = 1; length <= 15; ++length, code <<= 1) {
            for (size_t s = 0; s < lengths.size(); ++s) {
                if (lengths[s] == length) codes[s] = {code++, length};
            }
        }
        return codes;
    }
    void PutCode(uint32_t code, uint32_t length) {
        for (uint32_t i = length; i-- > 0;)
            Put(code >> i & 1, 1);
    }

    Bytes bytes_;
    uint32_t bit_ = 0;
    std::vector<Code> literal_;
    std::vector<Code> distance_;
};

// Literal/length lengths: box 0 (2 bits), box 1, end of block, and the length values 3, 5, 6, 7
// (symbols 257, 259, 260, 261), 3 bits each.
Bytes LiteralLengths() {
    Bytes lengths(262, 0);
    lengths[0] = 2;
    for (const size_t s : {1, 256, 257, 259, 260, 261})
        lengths[s] = 3;
    return lengths;
}
// Distances 1, 2 and 3 (symbols 0, 1, 2).
const Bytes kDistanceLengths = {2, 2, 1};

// One box with minima 10, 20, 30 and widths 0, 0, 0: every pixel of it has those residuals.
const Bytes kOneBoxSide = {0, 1, 0, 10, 20, 30, 0, 0};

struct Decoded {
    std::string error;
    std::vector<uint8_t> bgr;  // the pixels top row first, blue, green, red
    std::vector<uint32_t> progress;

    bool operator==(const Decoded&) const = default;
};

void PrintTo(const Decoded& decoded, std::ostream* out) {
    *out << "error \"" << decoded.error << "\", " << decoded.bgr.size() << " bytes, progress";
    for (const uint32_t percent : decoded.progress)
        *out << ' ' << percent;
}

// Thread counts every decoding in these tests runs at: the calling thread alone, the two
// stages on two threads, and more threads than stages.
constexpr std::array<uint32_t, 3> kThreadCounts = {1, 2, 4};

void RecordProgress(BitmapImageCoder&, void* data, uint32_t, uint32_t, uint32_t percent, bool&) {
    static_cast<std::vector<uint32_t>*>(data)->push_back(percent);
}

Decoded DecodeWith(uint32_t threads, const Bytes& file, const Bytes& side) {
    BitmapImage image;
    PngDecoder decoder;
    decoder.SetThreadCount(threads);
    Decoded result;
    decoder.SetProgressFunction(RecordProgress, &result.progress);
    try {
        decoder.DecodeImage(file, side, image);
    } catch (const EDecodeError& e) {
        result.error = e.what();
        if (image.Width() != 0 || image.Height() != 0) result.error += " (the image is not empty)";
        return result;
    }
    for (uint32_t y = 0; y < image.Height(); ++y)
        result.bgr.insert(result.bgr.end(), image.RowData(y), image.RowData(y) + 3 * image.Width());
    return result;
}

// The result at one thread; any other thread count must give the same pixels or the same
// error after the same progress reports.
Decoded Decode(const Bytes& file, const Bytes& side) {
    const Decoded serial = DecodeWith(1, file, side);
    for (const uint32_t threads : kThreadCounts) {
        if (DecodeWith(threads, file, side) != serial) {
            return {"the result at " + std::to_string(threads) + " threads differs", {}, {}};
        }
    }
    return serial;
}

TEST(PngDecoder, ReferenceFilesDecodeToTheOriginalPixels) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testing::DataPath("expected"))) {
        if (entry.path().extension() != ".lsg") continue;
        ++files;
        const std::string name = entry.path().filename().string();
        BitmapImage original;
        testing::LoadBmp(testing::ReadFileBytes(testing::DataPath(
                             "public/" + name.substr(0, name.find('.')) + ".bmp")),
                         original);
        auto sidePath = entry.path();
        sidePath.replace_extension(".pls");
        BitmapImage decoded;
        PngDecoder decoder;
        decoder.DecodeImage(testing::ReadFileBytes(entry.path().string()),
                            testing::ReadFileBytes(sidePath.string()), decoded);
        EXPECT_EQ(testing::FirstPixelDifference(original, decoded), "") << name;
    }
    EXPECT_EQ(files, 140);
}

TEST(PngDecoder, SymbolsRebuildPixelsInEachPlane) {
    // 3 x 2, median predictor. Row 0: box 0 (pixel (10, 20, 30) from zero neighbours), a raw
    // match of one pixel at distance 1, then a horizontal-plane match (value 5): the
    // difference of pixel 1 to pixel 0 (0) is added to pixel 1. Row 1: a vertical-plane match
    // (value 7 = 6 bytes + plane 1) at distance 3 copies row 0's vertical differences, which are
    // row 0 itself, so its bytes double; then box 0 at MED(A, B, C) + residual.
    StreamWriter stream;
    stream.Block(true, LiteralLengths(), kDistanceLengths);
    stream.Literal(0);
    stream.Literal(257), stream.Distance(0);
    stream.Literal(259), stream.Distance(0);
    stream.Literal(261), stream.Distance(2);
    stream.Literal(0);
    stream.Literal(256);
    // Pixel (2, 1): A = (20, 40, 60), B = C = (10, 20, 30): MED gives A + B - C = A.
    const Bytes raw = {10, 20, 30, 10, 20, 30, 10, 20, 30, 20, 40, 60, 20, 40, 60, 30, 60, 90};
    const Decoded decoded = Decode(File(3, 2, true, stream.Finish(raw)), kOneBoxSide);
    ASSERT_EQ(decoded.error, "");
    Bytes bgr;
    for (size_t p = 0; p < raw.size(); p += 3)
        bgr.insert(bgr.end(), {raw[p + 2], raw[p + 1], raw[p]});
    EXPECT_EQ(decoded.bgr, bgr);
}

// A 2 x 1 image, median residuals: box `box`, then whatever `rest` writes.
std::string ErrorOfTwoPixels(const std::function<void(StreamWriter&)>& rest, uint32_t box = 0) {
    StreamWriter stream;
    stream.Block(true, LiteralLengths(), kDistanceLengths);
    stream.Literal(box);
    rest(stream);
    // Two box-0 pixels: the second is predicted from its left neighbour, so it doubles.
    return Decode(File(2, 1, true, stream.Finish({10, 20, 30, 20, 40, 60})), kOneBoxSide).error;
}

TEST(PngDecoder, RefusesSymbolsOutsideTheImage) {
    using namespace decode_messages;
    EXPECT_EQ(ErrorOfTwoPixels([](StreamWriter& s) { s.Literal(257), s.Distance(1); }),
              kDistanceBeforeStart);
    EXPECT_EQ(ErrorOfTwoPixels([](StreamWriter& s) { s.Literal(260), s.Distance(0); }),
              kMatchPastEnd);
    EXPECT_EQ(ErrorOfTwoPixels([](StreamWriter& s) { s.Literal(0), s.Literal(0); }), kPixelPastEnd);
    EXPECT_EQ(ErrorOfTwoPixels([](StreamWriter& s) { s.Literal(256); }), kStreamEndsEarly);
    EXPECT_EQ(ErrorOfTwoPixels([](StreamWriter& s) { s.Literal(0), s.Literal(256); }, 1),
              kBoxOutOfRange);
    EXPECT_EQ(ErrorOfTwoPixels([](StreamWriter& s) { s.Literal(0), s.Literal(256); }), "");
}

TEST(PngDecoder, RefusesMalformedBlockHeaders) {
    using namespace decode_messages;
    const auto error = [](const std::function<void(StreamWriter&)>& write) {
        StreamWriter stream;
        write(stream);
        return Decode(File(1, 1, true, stream.Finish({10, 20, 30})), kOneBoxSide).error;
    };
    EXPECT_EQ(error([](StreamWriter& s) { s.Put(1, 1), s.Put(0, 2); }), kBadBlockType);
    Bytes overSubscribed = LiteralLengths();
    overSubscribed[2] = 3;
    EXPECT_EQ(error([&](StreamWriter& s) { s.Block(true, overSubscribed, kDistanceLengths); }),
              kInvalidLiteralCode);
    EXPECT_EQ(error([&](StreamWriter& s) {
                  s.Block(true, LiteralLengths(), {1, 2});
              }),
              kInvalidDistanceCode);
    Bytes noEnd = LiteralLengths();
    noEnd[256] = 0;
    EXPECT_EQ(error([&](StreamWriter& s) { s.Block(true, noEnd, kDistanceLengths); }),
              kNoEndOfBlock);
    EXPECT_EQ(error([](StreamWriter& s) {
                  // 30 + 257 literal/length codes.
                  s.Put(1, 1), s.Put(2, 2), s.Put(30, 5);
              }),
              kTooManyLengthCodes);
}

// The reference file of a 33 x 17 image with its side file, for the malformed-file tests.
struct Reference {
    Bytes file = testing::ReadFileBytes(testing::DataPath("expected/p17_gap_33x17.default.lsg"));
    Bytes side = testing::ReadFileBytes(testing::DataPath("expected/p17_gap_33x17.default.pls"));
};

// The file with its image stream changed, in one IDAT chunk in place of the IDAT chunks (the
// chunk's CRC made right again).
Bytes WithImageStream(const Bytes& file, const std::function<void(Bytes&)>& change) {
    Bytes before(file.begin(), file.begin() + 8);
    Bytes stream;
    Bytes after;
    for (size_t at = 8; at < file.size();) {
        const size_t length = size_t{file[at]} << 24 | size_t{file[at + 1]} << 16 |
                              size_t{file[at + 2]} << 8 | file[at + 3];
        const auto chunk = file.begin() + static_cast<long>(at);
        const auto end = chunk + static_cast<long>(12 + length);
        if (std::string(chunk + 4, chunk + 8) == "IDAT") {
            stream.insert(stream.end(), chunk + 8, end - 4);
        } else {
            Bytes& part = stream.empty() ? before : after;
            part.insert(part.end(), chunk, end);
        }
        at += 12 + length;
    }
    change(stream);
    const Bytes chunk = Chunk("IDAT", stream);
    before.insert(before.end(), chunk.begin(), chunk.end());
    before.insert(before.end(), after.begin(), after.end());
    return before;
}

TEST(PngDecoder, RefusesDamagedFilesAndSideFiles) {
    using namespace decode_messages;
    const Reference ref;
    ASSERT_EQ(Decode(ref.file, ref.side).error, "");

    Bytes badCrc = ref.file;
    badCrc[badCrc.size() - 30] ^= 1;  // inside the IDAT data
    EXPECT_EQ(Decode(badCrc, ref.side).error, std::string(kCrcMismatch) + "IDAT");
    EXPECT_EQ(Decode(WithImageStream(ref.file, [](Bytes& s) { s.back() ^= 1; }), ref.side).error,
              kChecksumMismatch);
    EXPECT_EQ(
        Decode(WithImageStream(ref.file, [](Bytes& s) { s.resize(s.size() - 2); }), ref.side).error,
        kStreamTruncated);
    EXPECT_EQ(
        Decode(WithImageStream(ref.file, [](Bytes& s) { s.resize(s.size() / 2); }), ref.side).error,
        kStreamTruncated);
    EXPECT_EQ(Decode(WithImageStream(ref.file, [](Bytes& s) { s.push_back(0); }), ref.side).error,
              kDataAfterStream);
    EXPECT_EQ(Decode(WithImageStream(ref.file, [](Bytes& s) { s[0] = 0x99; }), ref.side).error,
              kBadStreamMethod);
    EXPECT_EQ(Decode(WithImageStream(ref.file, [](Bytes& s) { s[1] ^= 1; }), ref.side).error,
              kBadStreamCheck);

    Bytes shortSide = ref.side;
    shortSide.pop_back();
    EXPECT_EQ(Decode(ref.file, shortSide).error, kSideFileTooShort);
    Bytes longSide = ref.side;
    longSide.push_back(0);
    EXPECT_EQ(Decode(ref.file, longSide).error, kSideFileTooLong);
}

// A decode that fails, even on the checksum after every row, leaves the caller's image as it was.
TEST(PngDecoder, AFailedDecodeLeavesThePreviousImage) {
    const Reference ref;
    const Bytes damaged = WithImageStream(ref.file, [](Bytes& s) { s.back() ^= 1; });
    const std::string other = testing::DataPath("expected/p20_photo_300x240.default");
    for (const uint32_t threads : kThreadCounts) {
        BitmapImage image;
        PngDecoder decoder;
        decoder.SetThreadCount(threads);
        decoder.DecodeImage(testing::ReadFileBytes(other + ".lsg"),
                            testing::ReadFileBytes(other + ".pls"), image);
        BitmapImage before;
        testing::CopyImage(image, before);
        EXPECT_THROW(decoder.DecodeImage(damaged, ref.side, image), EDecodeError);
        EXPECT_EQ(testing::FirstPixelDifference(before, image), "") << threads << " threads";
    }
}

TEST(PngDecoder, RefusesImagesTooLargeBeforeAllocating) {
    using namespace decode_messages;
    const Bytes stream(100, 0);
    const auto startsWith = [](const std::string& text, const char* prefix) {
        return text.rfind(prefix, 0) == 0;
    };
    // 100 bytes of stream describe at most 86 x 8 x 100 = 68800 pixels.
    EXPECT_TRUE(
        startsWith(Decode(File(68801, 1, true, stream), kOneBoxSide).error, kMorePixelsThanData));
    EXPECT_TRUE(
        startsWith(Decode(File(200, 344, true, stream), kOneBoxSide).error, kBadStreamMethod))
        << "68800 pixels pass the size check";
    // A plane of 4.8 GB: beyond 32-bit sizes whatever the data.
    EXPECT_TRUE(
        startsWith(Decode(File(40000, 40000, true, stream), kOneBoxSide).error, kImageTooLarge));
    EXPECT_TRUE(startsWith(Decode(File(0x7FFFFFFF, 0x7FFFFFFF, true, stream), kOneBoxSide).error,
                           kImageTooLarge));
    // One pixel wide the context model would need the sample itself as a neighbour.
    EXPECT_EQ(Decode(File(1, 1, false, stream), kOneBoxSide).error, kOneWideNeedsMed);
}

// Noise at the fastest level: every pixel a literal, 76800 tokens, several chunks of them.
struct EncodedNoise {
    Bytes file;
    Bytes side;

    EncodedNoise() {
        BitmapImage image;
        testing::LoadBmp(testing::MakeBmp24(320, 240,
                                            [](uint32_t x, uint32_t y) {
                                                const uint32_t h =
                                                    (x * 7919 + y * 104729) * 2654435761u;
                                                return testing::Rgb{static_cast<uint8_t>(h >> 24),
                                                                    static_cast<uint8_t>(h >> 16),
                                                                    static_cast<uint8_t>(h >> 8)};
                                            }),
                         image);
        PngEncoder encoder;
        encoder.SetCompressionLevel(0);
        std::ostringstream out(std::ios::binary);
        encoder.WriteImage(out, image);
        const std::string text = out.str();
        file.assign(text.begin(), text.end());
        const auto contents = encoder.SideFile().Contents();
        side.assign(contents.begin(), contents.end());
    }
};

TEST(PngDecoder, FaultsInALongStreamAreTheSameAtEveryThreadCount) {
    using namespace decode_messages;
    const EncodedNoise noise;
    const Bytes& file = noise.file;
    const Bytes& side = noise.side;
    const Decoded intact = Decode(file, side);
    ASSERT_EQ(intact.error, "");
    ASSERT_GE(intact.progress.size(), 3u) << "the header and at least two blocks";

    // A side file cut short in the first block, an offset changed near its end (the pixels
    // then fail the checksum, which is compared only once all of them are rebuilt), a stream cut
    // short in the last block: each decoded as far as the fault, with the progress of the
    // blocks before it reported, then the same error at every count.
    Bytes shortSide = side;
    shortSide.resize(side.size() / 10);
    EXPECT_EQ(Decode(file, shortSide), (Decoded{kSideFileTooShort, {}, {0}}));
    Bytes changedSide = side;
    changedSide[side.size() - 40] ^= 0x10;
    EXPECT_EQ(Decode(file, changedSide), (Decoded{kChecksumMismatch, {}, intact.progress}));
    const Bytes truncated = WithImageStream(file, [](Bytes& s) { s.resize(s.size() - 100); });
    const std::vector<uint32_t> allButLast(intact.progress.begin(), intact.progress.end() - 1);
    EXPECT_EQ(Decode(truncated, side), (Decoded{kStreamTruncated, {}, allButLast}));
    const Decoded damaged =
        Decode(WithImageStream(file, [](Bytes& s) { s[s.size() - 200] ^= 0xFF; }), side);
    EXPECT_NE(damaged.error, "");
    // Damage all through the stream, far from its ends, where pixels are decoded without
    // bounds tests: always refused, the same way at every count.
    for (size_t k = 1; k < 16; ++k) {
        const Decoded refused = Decode(WithImageStream(file,
                                                       [k](Bytes& s) {
                                                           s[s.size() * k / 16] ^= 0x5A;
                                                           s[s.size() * k / 16 + 1] ^= 0xA5;
                                                       }),
                                       side);
        EXPECT_NE(refused.error, "") << "damage at " << k << "/16";
        EXPECT_EQ(refused.error.find("differs"), std::string::npos) << "damage at " << k << "/16";
    }
}

// Keeps each row as it is finished, from one row of room that every row reuses.
class RecordedRows final : public RowTarget {
  public:
    void Start(uint32_t width, uint32_t) override {
        ++starts;
        width_ = width;
        room_.resize(size_t{4} * width);
    }
    [[nodiscard]] uint8_t* Row(uint32_t row) noexcept override {
        if (row != next_) outOfOrder = true;
        return room_.data();
    }
    void Finished(uint32_t row) noexcept override {
        if (row != next_++) outOfOrder = true;
        bgr.insert(bgr.end(), room_.begin(), room_.begin() + 3 * width_);
    }

    int starts = 0;
    bool outOfOrder = false;
    Bytes bgr;

  private:
    uint32_t width_ = 0;
    uint32_t next_ = 0;
    Bytes room_;
};

TEST(PngDecoder, RowsGoToATargetInOrderAtEveryThreadCount) {
    const EncodedNoise noise;
    const Decoded whole = DecodeWith(1, noise.file, noise.side);
    ASSERT_EQ(whole.error, "");
    for (const uint32_t threads : kThreadCounts) {
        PngDecoder decoder;
        decoder.SetThreadCount(threads);
        RecordedRows rows;
        decoder.DecodeRows(noise.file, noise.side, rows);
        EXPECT_EQ(rows.starts, 1) << threads << " threads";
        EXPECT_FALSE(rows.outOfOrder) << threads << " threads";
        EXPECT_EQ(rows.bgr, whole.bgr) << threads << " threads";
    }
}

void ThrowAtSecondReport(BitmapImageCoder&, void* data, uint32_t, uint32_t, uint32_t, bool&) {
    if (++*static_cast<int*>(data) == 2) throw std::length_error("stop here");
}

TEST(PngDecoder, AProgressFunctionThatThrowsEndsDecodingAtEveryThreadCount) {
    const EncodedNoise noise;
    for (const uint32_t threads : kThreadCounts) {
        BitmapImage image;
        PngDecoder decoder;
        decoder.SetThreadCount(threads);
        int reports = 0;
        decoder.SetProgressFunction(ThrowAtSecondReport, &reports);
        try {
            decoder.DecodeImage(noise.file, noise.side, image);
            ADD_FAILURE() << "the exception was lost at " << threads << " threads";
        } catch (const std::length_error& e) {
            EXPECT_STREQ(e.what(), "stop here");
        }
        EXPECT_EQ(reports, 2) << threads << " threads";
    }
}

}  // namespace
}  // namespace quenpix
