// Tests of the bit reader and the table-driven prefix-code decoder.
#include "decoder/huffman_decoder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include "decoder/decode_messages.hpp"
#include "stream/huffman_encoder.hpp"

namespace quenpix {
namespace {

using Lengths = std::vector<uint8_t>;

// Packs values least significant bit first, as the image stream does.
class BitPacker {
  public:
    void Put(uint32_t value, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i, ++bit_) {
            if (bit_ % 8 == 0) bytes_.push_back(0);
            bytes_.back() |= static_cast<uint8_t>((value >> i & 1) << (bit_ % 8));
        }
    }
    [[nodiscard]] const std::vector<uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    uint32_t bit_ = 0;
};

// Canonical codes (most significant bit first) for `lengths`, as any writer assigns them.
std::vector<uint32_t> CanonicalCodes(const Lengths& lengths) {
    std::vector<uint32_t> codes(lengths.size());
    uint32_t code = 0;
    for (uint32_t length = 1; length <= 15; ++length) {
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] == length) codes[s] = code++;
        }
        code <<= 1;
    }
    return codes;
}

void PutCode(BitPacker& bits, uint32_t code, uint32_t length) {
    for (uint32_t i = length; i-- > 0;)
        bits.Put(code >> i & 1, 1);
}

std::string BuildError(const Lengths& lengths, HuffmanDecoder::Empty empty) {
    HuffmanDecoder decoder;
    try {
        decoder.Build(lengths, empty, "invalid");
    } catch (const EDecodeError& e) {
        return e.what();
    }
    return "";
}

TEST(BitReader, ReadsLeastSignificantBitFirstAndCountsPosition) {
    const std::vector<uint8_t> data = {0xB5, 0x0F, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8};
    BitReader bits(data);
    EXPECT_EQ(bits.ReadBits(3), 0b101u);
    EXPECT_EQ(bits.ReadBits(9), 0b111110110u);
    EXPECT_EQ(bits.BitPosition(), 12u);
    bits.AlignToByte();
    EXPECT_EQ(bits.BitPosition(), 16u);
    EXPECT_EQ(bits.ReadBits(8), 0xFFu);
    EXPECT_EQ(bits.ReadBits(32), 0x04030201u);
    for (uint32_t b = 5; b <= 8; ++b)
        EXPECT_EQ(bits.ReadBits(8), b);
    EXPECT_EQ(bits.BitPosition(), bits.DataBits());
}

TEST(BitReader, ZeroBitsPastTheEndThenTruncation) {
    const std::vector<uint8_t> data = {0xFF};
    BitReader bits(data);
    EXPECT_EQ(bits.ReadBits(12), 0x0FFu) << "the byte, then zero padding";
    EXPECT_GT(bits.BitPosition(), bits.DataBits());
    try {
        for (int i = 0; i < 100; ++i)
            (void)bits.ReadBits(32);
        FAIL() << "reading far past the end must be refused";
    } catch (const EDecodeError& e) {
        EXPECT_STREQ(e.what(), decode_messages::kStreamTruncated);
    }
}

TEST(BitReader, PiecesReadAsOneStream) {
    // 40 bytes in pieces of every size up to past a whole refill, an empty one among them.
    std::vector<uint8_t> data(40);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 37 + 11);
    std::vector<std::span<const uint8_t>> pieces;
    for (size_t at = 0, size = 0; at < data.size(); at += size, ++size)
        pieces.push_back(std::span(data).subspan(at, std::min(size, data.size() - at)));
    BitReader whole(data);
    BitReader pieced(pieces);
    EXPECT_EQ(pieced.DataBits(), whole.DataBits());
    // Reads of 1 to 32 bits, so that refills end at every place within a piece.
    for (uint32_t n = 1; whole.BitPosition() + 32 <= whole.DataBits(); n = n % 32 + 1) {
        ASSERT_EQ(pieced.ReadBits(n), whole.ReadBits(n)) << "at bit " << whole.BitPosition();
        ASSERT_EQ(pieced.BitPosition(), whole.BitPosition());
    }
}

TEST(BitReader, UncheckedRefillsStayInsideTheDataAndReadTheSameBits) {
    // Data of every size just around the bound, each in a buffer of its own, so that the
    // address sanitizer sees a read past the end; 15 bits are taken between refills. Below
    // 8 bytes the checked reader's first refill already pads past the end. A fresh reader's
    // first refill moves on furthest.
    for (size_t size = 8; size <= 48; ++size) {
        auto data = std::make_unique<uint8_t[]>(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<uint8_t>(i * 53 + 7);
        BitReader checked(std::span<const uint8_t>(data.get(), size));
        BitReader reader(std::span<const uint8_t>(data.get(), size));
        const size_t refills = reader.UncheckedRefills(15);
        if (size == 48) {
            EXPECT_GE(refills, 13u) << "the bound is not needlessly tight";
        }
        BitReader::Unchecked fast = reader.Fast();
        for (size_t k = 0; k < refills; ++k) {
            fast.Refill();
            ASSERT_EQ(fast.Peek() & 0x7FFF, checked.ReadBits(15)) << size << " bytes, refill " << k;
            fast.Consume(15);
        }
        reader.Resume(fast);
        EXPECT_EQ(reader.BitPosition(), checked.BitPosition());
    }
}

TEST(HuffmanDecoder, DecodesShortAndFifteenBitCodes) {
    // Lengths 1..15 plus a second 15: a complete code whose long codes need the second level.
    Lengths lengths;
    for (uint8_t length = 1; length <= 15; ++length)
        lengths.push_back(length);
    lengths.push_back(15);
    const auto codes = CanonicalCodes(lengths);
    const std::vector<uint32_t> message = {15, 0, 14, 3, 10, 11, 9, 15, 1, 12, 13, 2};
    BitPacker packer;
    for (const uint32_t s : message)
        PutCode(packer, codes[s], lengths[s]);
    HuffmanDecoder decoder;
    decoder.Build(lengths, HuffmanDecoder::Empty::kRefused, "invalid");
    BitReader bits(packer.Bytes());
    for (size_t i = 0; i < message.size(); ++i) {
        bits.Refill();
        EXPECT_EQ(decoder.Decode(bits), message[i]) << "symbol " << i;
    }
}

TEST(HuffmanDecoder, DecodesTheEncodersCodes) {
    // Skewed counts give the encoder's length-limited codes with several lengths above 10.
    PngHuffmanEncoder encoder;
    std::vector<uint32_t> message;
    for (uint32_t s = 0; s < 40; ++s) {
        const uint32_t count = 1u << (s % 20);
        for (uint32_t k = 0; k < count; ++k)
            encoder.IncrementFrequency(s);
        message.push_back(s);
    }
    encoder.BuildTable(15);
    BitPacker packer;
    for (const uint32_t s : message) {
        uint16_t code = 0;
        uint8_t length = 0;
        encoder.Encode(s, code, length);
        packer.Put(code, length);
    }
    const auto& all = encoder.CodeLengths();
    HuffmanDecoder decoder;
    decoder.Build(Lengths(all.begin(), all.begin() + 286), HuffmanDecoder::Empty::kRefused,
                  "invalid");
    BitReader bits(packer.Bytes());
    for (const uint32_t s : message) {
        bits.Refill();
        EXPECT_EQ(decoder.Decode(bits), s);
    }
}

TEST(HuffmanDecoder, RefusesCodesThatAreNotPrefixCodes) {
    using E = HuffmanDecoder::Empty;
    EXPECT_EQ(BuildError({1, 1, 1}, E::kRefused), "invalid") << "over-subscribed";
    EXPECT_EQ(BuildError({1, 2, 0, 3}, E::kRefused), "invalid") << "incomplete";
    EXPECT_EQ(BuildError({2}, E::kRefused), "invalid") << "a single code must have length 1";
    EXPECT_EQ(BuildError({1, 16}, E::kRefused), "invalid") << "length above 15";
    EXPECT_EQ(BuildError({0, 0}, E::kRefused), "invalid") << "no code where one is needed";
    EXPECT_EQ(BuildError({0, 0}, E::kAllowed), "");
    EXPECT_EQ(BuildError({1, 2, 3, 3}, E::kRefused), "");
}

TEST(HuffmanDecoder, SingleCodeOfLengthOneLeavesTheOtherPatternUnassigned) {
    HuffmanDecoder decoder;
    decoder.Build(Lengths{0, 0, 1}, HuffmanDecoder::Empty::kRefused, "invalid");
    const std::vector<uint8_t> data = {0b10};  // symbol 2 (bit 0), then the unused bit 1
    BitReader bits(data);
    bits.Refill();
    EXPECT_EQ(decoder.Decode(bits), 2u);
    try {
        (void)decoder.Decode(bits);
        FAIL() << "the pattern 1 has no code";
    } catch (const EDecodeError& e) {
        EXPECT_STREQ(e.what(), decode_messages::kUnassignedCode);
    }

    HuffmanDecoder empty;
    empty.Build(Lengths{0, 0, 0}, HuffmanDecoder::Empty::kAllowed, "invalid");
    bits.Refill();
    EXPECT_THROW((void)empty.Decode(bits), EDecodeError) << "an empty code decodes nothing";
}

}  // namespace
}  // namespace quenpix
