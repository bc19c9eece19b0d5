// HuffmanDecoder: code-length validation and the two-level decoding tables.
#include "decoder/huffman_decoder.hpp"

#include <algorithm>

namespace quenpix {

namespace {

// The code read from the stream least significant bit first, as the table index sees it.
uint32_t Reverse(uint32_t code, uint32_t length) noexcept {
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < length; ++i) {
        reversed = reversed << 1 | (code & 1);
        code >>= 1;
    }
    return reversed;
}

}  // namespace

void HuffmanDecoder::RefuseUnassignedCode() {
    throw EDecodeError(decode_messages::kUnassignedCode);
}

void HuffmanDecoder::Build(std::span<const uint8_t> lengths, Empty empty,
                           const char* invalidMessage) {
    std::array<uint32_t, kMaxCodeLength + 1> counts{};
    for (const uint8_t length : lengths) {
        if (length > kMaxCodeLength) throw EDecodeError(invalidMessage);
        ++counts[length];
    }
    counts[0] = 0;
    uint32_t total = 0;
    int64_t left = 1;  // code space not yet taken, in units of the current length
    for (uint32_t length = 1; length <= kMaxCodeLength; ++length) {
        left = left * 2 - counts[length];
        if (left < 0) throw EDecodeError(invalidMessage);
        total += counts[length];
    }
    const bool complete = left == 0;
    const bool singleOfLengthOne = total == 1 && counts[1] == 1;
    const bool allowedEmpty = total == 0 && empty == Empty::kAllowed;
    if (!complete && !singleOfLengthOne && !allowedEmpty) throw EDecodeError(invalidMessage);

    // Canonical codes: shorter codes first, and within a length in increasing symbol order.
    std::array<uint32_t, kMaxCodeLength + 2> nextCode{};
    for (uint32_t length = 1; length <= kMaxCodeLength; ++length)
        nextCode[length + 1] = (nextCode[length] + counts[length]) << 1;

    root_.fill(Entry{});
    sub_.clear();
    // Each root prefix of a long code gets a second-level table as wide as its longest code.
    std::array<uint8_t, 1u << kRootBits> longest{};
    std::vector<uint32_t> codes(lengths.size());
    {
        auto next = nextCode;
        for (size_t symbol = 0; symbol < lengths.size(); ++symbol) {
            const uint32_t length = lengths[symbol];
            if (length == 0) continue;
            codes[symbol] = Reverse(next[length]++, length);
            if (length > kRootBits) {
                uint8_t& widest = longest[codes[symbol] & kRootMask];
                widest = std::max(widest, static_cast<uint8_t>(length));
            }
        }
    }
    for (uint32_t prefix = 0; prefix < longest.size(); ++prefix) {
        if (longest[prefix] == 0) continue;
        const auto subBits = static_cast<uint8_t>(longest[prefix] - kRootBits);
        root_[prefix] = {static_cast<uint16_t>(sub_.size()), 0, subBits};
        sub_.resize(sub_.size() + (size_t{1} << subBits));
    }
    for (size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        const uint32_t length = lengths[symbol];
        if (length == 0) continue;
        const Entry entry{static_cast<uint16_t>(symbol), static_cast<uint8_t>(length), 0};
        const uint32_t code = codes[symbol];
        if (length <= kRootBits) {
            for (uint32_t index = code; index < root_.size(); index += 1u << length)
                root_[index] = entry;
            continue;
        }
        const Entry link = root_[code & kRootMask];
        const uint32_t subLength = length - kRootBits;
        for (uint32_t index = code >> kRootBits; index < (1u << link.subBits);
             index += 1u << subLength) {
            sub_[link.value + index] = entry;
        }
    }
}

}  // namespace quenpix
