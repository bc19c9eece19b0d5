// PngHuffmanEncoder: symbol counts, length-limited canonical codes, and the step-by-step builder.
#include "stream/huffman_encoder.hpp"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <limits>
#include <utility>

#include "image/exceptions.hpp"
#include "stream/huffman_reference.hpp"

namespace quenpix {

namespace {

constexpr uint32_t kSymbols = PngHuffmanEncoder::kSymbolCount;
// Deflate code lengths stop at 15, and the codes are stored in 16 bits.
constexpr uint32_t kLongestSupportedLength = 15;

constexpr const char* kIndexOutOfRange = "Index out of range";
constexpr const char* kEncodeIndexOutOfRange = "Index Out of Range";
constexpr const char* kTooManyCodes = "INTERNAL ERROR - Too many codes defined";
constexpr const char* kInvalidCodeGenerated = "Invalid Huffman Code Generated";
constexpr const char* kMissingCodeSize = "INTERNAL ERROR - Missing Huffman Code Size";
constexpr const char* kDuplicateValue = "INTERNAL ERROR - Duplicate Huffman Value";
constexpr const char* kMissingValue = "INTERNAL ERROR - Missing Huffman Value";
constexpr const char* kInvalidRange = "INTERNAL ERROR - Invalid Huffman Range";
constexpr const char* kDuplicateCode = "INTERNAL ERROR - Duplicate Huffman Code";
constexpr const char* kMissingCode = "INTERNAL ERROR - Missing Huffman Code";

[[noreturn]] void Fail(const char* message) {
    throw EPngError(message);
}

// Callers ask for 15 or 7; anything else would index past the working tables.
void RequireSupportedMaxLength(uint32_t maxLength) {
    if (maxLength == 0 || maxLength > kLongestSupportedLength) Fail(kInvalidRange);
}

// ---------------------------------------------------------------------------------------------
// The step-by-step builder.

// `bits` is signed and has a slot for every possible tree depth: counts outside the design can
// give depths far beyond 2 * maxLength and an odd count at a limited level, and the adjustment
// must then stop at a negative count instead of wrapping round.
struct ReferenceWork {
    HuffmanCounts saved{};
    std::array<int32_t, kSymbols> others{};
    std::array<uint32_t, kSymbols> codeSize{};
    std::array<int32_t, kSymbols + 1> bits{};
    std::array<uint32_t, kSymbols> huffVal{};
    std::array<uint32_t, kSymbols> huffSize{};
    std::array<uint32_t, kSymbols> huffCode{};
};

struct LeastPair {
    int32_t s1 = -1;
    int32_t s2 = -1;
};

// `<=` hands a tie to the later symbol; the tree shape, and so the output, depends on it.
[[nodiscard]] LeastPair FindTwoLeast(const HuffmanCounts& frequencies) noexcept {
    LeastPair pair;
    for (int32_t symbol = 0; symbol < static_cast<int32_t>(kSymbols); ++symbol) {
        const uint32_t count = frequencies[symbol];
        if (count == 0) continue;
        if (pair.s1 < 0 || count <= frequencies[pair.s1]) {
            pair.s2 = pair.s1;
            pair.s1 = symbol;
        } else if (pair.s2 < 0 || count <= frequencies[pair.s2]) {
            pair.s2 = symbol;
        }
    }
    return pair;
}

// Returns the last symbol of the chain, where the next merged chain is linked on.
int32_t DeepenChain(ReferenceWork& work, int32_t symbol) noexcept {
    ++work.codeSize[symbol];
    while (work.others[symbol] >= 0) {
        symbol = work.others[symbol];
        ++work.codeSize[symbol];
    }
    return symbol;
}

// Returns false when no symbol was counted.
bool BuildCodeSizes(HuffmanCounts& frequencies, ReferenceWork& work) noexcept {
    for (;;) {
        const LeastPair pair = FindTwoLeast(frequencies);
        if (pair.s2 < 0) {
            if (pair.s1 < 0) return false;
            if (work.codeSize[pair.s1] == 0) work.codeSize[pair.s1] = 1;
            return true;
        }
        frequencies[pair.s1] = static_cast<uint32_t>(frequencies[pair.s1] + frequencies[pair.s2]);
        frequencies[pair.s2] = 0;
        work.others[DeepenChain(work, pair.s1)] = pair.s2;
        DeepenChain(work, pair.s2);
    }
}

// Returns whether any code was shortened.
bool LimitSizes(ReferenceWork& work, uint32_t maxLength) {
    auto& bits = work.bits;
    bool adjusted = false;
    for (uint32_t i = 2 * maxLength; i > maxLength; --i) {
        while (bits[i] > 0) {
            uint32_t j = i - 2;
            while (j > 0 && bits[j] == 0)
                --j;
            // More symbols than maxLength bits can number: there is no shorter code left to split.
            if (j == 0) Fail(kTooManyCodes);
            bits[i] -= 2;
            bits[i - 1] += 1;
            bits[j + 1] += 2;
            bits[j] -= 1;
            adjusted = true;
        }
    }
    return adjusted;
}

void CheckCodeCount(const ReferenceWork& work, uint32_t maxLength) {
    int64_t total = 0;
    for (uint32_t size = 1; size <= maxLength; ++size)
        total += work.bits[size];
    if (total >= static_cast<int64_t>(kSymbols)) Fail(kTooManyCodes);
}

void SortBySize(ReferenceWork& work, uint32_t maxLength) noexcept {
    uint32_t k = 0;
    for (uint32_t size = 1; size <= 2 * maxLength - 1; ++size) {
        for (uint32_t symbol = 0; symbol < kSymbols; ++symbol) {
            if (work.codeSize[symbol] == size) work.huffVal[k++] = symbol;
        }
    }
}

void ListSizes(ReferenceWork& work, uint32_t maxLength) {
    uint32_t k = 0;
    for (uint32_t size = 1; size <= maxLength; ++size) {
        for (int32_t n = 0; n < work.bits[size]; ++n) {
            // The last entry stays 0 to end the list; only a negative count above lets it fill.
            if (k == kSymbols - 1) Fail(kTooManyCodes);
            work.huffSize[k++] = size;
        }
    }
}

void NumberCodes(ReferenceWork& work) noexcept {
    uint32_t code = 0;
    uint32_t si = work.huffSize[0];
    uint32_t k = 0;
    while (work.huffSize[k] != 0) {
        while (work.huffSize[k] == si) {
            work.huffCode[k] = code;
            ++code;
            ++k;
        }
        code <<= 1;
        ++si;
    }
}

void AssignCodes(const ReferenceWork& work, uint32_t maxLength, HuffmanLengths& codeLengths,
                 HuffmanCodes& codes) {
    for (uint32_t k = 0; k < kSymbols; ++k) {
        if (work.huffSize[k] == 0) continue;
        if (work.huffSize[k] > maxLength) Fail(kInvalidCodeGenerated);
        const uint32_t symbol = work.huffVal[k];
        codes[symbol] = static_cast<uint16_t>(work.huffCode[k]);
        codeLengths[symbol] = static_cast<uint8_t>(work.huffSize[k]);
    }
}

// After limiting, symbols are still numbered in order of their unlimited sizes; an exchange
// sort within each length restores the rule that codes increase with the symbol number.
void ReorderPairs(const HuffmanLengths& codeLengths, HuffmanCodes& codes) noexcept {
    for (uint32_t v = 0; v + 1 < kSymbols; ++v) {
        for (uint32_t w = v + 1; w < kSymbols; ++w) {
            if (codeLengths[v] == codeLengths[w] && codes[v] > codes[w]) {
                std::swap(codes[v], codes[w]);
            }
        }
    }
}

void CheckValues(const ReferenceWork& work, const HuffmanLengths& codeLengths) {
    for (uint32_t symbol = 0; symbol < kSymbols; ++symbol) {
        if (work.saved[symbol] == 0) continue;
        if (codeLengths[symbol] == 0) Fail(kMissingCodeSize);
        uint32_t entries = 0;
        for (uint32_t k = 0; k < kSymbols; ++k) {
            if (work.huffVal[k] == symbol && work.huffSize[k] != 0) ++entries;
        }
        if (entries > 1) Fail(kDuplicateValue);
        if (entries == 0) Fail(kMissingValue);
    }
}

void CheckCodes(const HuffmanLengths& codeLengths, const HuffmanCodes& codes, uint32_t maxLength) {
    for (uint32_t w = 0; w < kSymbols; ++w) {
        if (codeLengths[w] == 0) continue;
        if (codeLengths[w] > maxLength) Fail(kInvalidRange);
        for (uint32_t x = w + 1; x < kSymbols; ++x) {
            if (codeLengths[x] != 0 && codes[x] == codes[w]) Fail(kDuplicateCode);
        }
    }
}

[[nodiscard]] uint16_t MirrorBitByBit(uint16_t code, uint32_t length) noexcept {
    uint32_t mirrored = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if ((code >> i) & 1U) mirrored |= 1U << (length - 1 - i);
    }
    return static_cast<uint16_t>(mirrored);
}

// ---------------------------------------------------------------------------------------------
// The fast builder. It gives the reference's output for every count set inside the design and
// declines (returns false, touching nothing) for the rest, which the reference then handles.

constexpr uint32_t kSizeSlots = 2 * kLongestSupportedLength + 1;
using SizeCounts = std::array<int32_t, kSizeSlots>;
using CodeSizes = std::array<uint16_t, kSymbols>;

// A live node of the merge, packed into one integer so that the heap compares plain numbers:
// the count first, then the complemented symbol, so that of equal counts the higher symbol comes
// out first, as in the reference scan. The node number below never decides, since live symbols
// differ. A merge keeps the symbol of its lesser half, the slot that holds the merged count in
// the reference. Leaves are nodes 0..287, merges 288 on.
struct MergeNode {
    uint32_t count = 0;
    uint32_t symbol = 0;
    uint32_t node = 0;
};

[[nodiscard]] constexpr uint64_t Pack(const MergeNode& n) noexcept {
    return (uint64_t{n.count} << 32) | (uint64_t{0xFFFFU - n.symbol} << 16) | n.node;
}

[[nodiscard]] constexpr MergeNode Unpack(uint64_t key) noexcept {
    return {static_cast<uint32_t>(key >> 32),
            0xFFFFU - static_cast<uint32_t>((key >> 16) & 0xFFFFU),
            static_cast<uint32_t>(key & 0xFFFFU)};
}

// Merges as the reference does, with at least two counted symbols and a total that fits 32
// bits; fills the unlimited code sizes and returns the root.
MergeNode MergeLeast(const HuffmanCounts& frequencies, CodeSizes& codeSize) noexcept {
    std::array<uint64_t, kSymbols> heap{};
    std::array<uint16_t, 2 * kSymbols> parent{};
    size_t live = 0;
    for (uint32_t symbol = 0; symbol < kSymbols; ++symbol) {
        if (frequencies[symbol] != 0) heap[live++] = Pack({frequencies[symbol], symbol, symbol});
    }
    const auto first = heap.begin();
    const std::greater<> leastOnTop;
    std::make_heap(first, first + live, leastOnTop);
    uint32_t next = kSymbols;
    while (live > 1) {
        std::pop_heap(first, first + live, leastOnTop);
        const MergeNode least = Unpack(heap[--live]);
        std::pop_heap(first, first + live, leastOnTop);
        const MergeNode second = Unpack(heap[live - 1]);
        parent[least.node] = static_cast<uint16_t>(next);
        parent[second.node] = static_cast<uint16_t>(next);
        heap[live - 1] = Pack({least.count + second.count, least.symbol, next});
        std::push_heap(first, first + live, leastOnTop);
        ++next;
    }
    // Parents are made after their children, so walking merges downwards meets parents first.
    std::array<uint16_t, kSymbols> depth{};
    for (uint32_t node = next - 1; node-- > kSymbols;) {
        depth[node - kSymbols] = static_cast<uint16_t>(depth[parent[node] - kSymbols] + 1);
    }
    for (uint32_t symbol = 0; symbol < kSymbols; ++symbol) {
        if (frequencies[symbol] == 0) continue;
        codeSize[symbol] = static_cast<uint16_t>(depth[parent[symbol] - kSymbols] + 1);
    }
    return Unpack(heap[0]);
}

// Returns false when a size exceeds what the reference sorts or the limiting cannot finish.
[[nodiscard]] bool LimitLengthCounts(const CodeSizes& codeSize, uint32_t maxLength,
                                     SizeCounts& bits) noexcept {
    for (const uint16_t size : codeSize) {
        if (size > 2 * maxLength - 1) return false;
        if (size != 0) ++bits[size];
    }
    for (uint32_t i = 2 * maxLength; i > maxLength; --i) {
        while (bits[i] > 0) {
            uint32_t j = i - 2;
            while (j > 0 && bits[j] == 0)
                --j;
            if (j == 0) return false;
            bits[i] -= 2;
            bits[i - 1] += 1;
            bits[j + 1] += 2;
            bits[j] -= 1;
        }
    }
    return true;
}

// The limited lengths go out shortest first in order of unlimited size, ties by symbol number.
void AssignLengths(const CodeSizes& codeSize, const SizeCounts& bits, uint32_t maxLength,
                   HuffmanLengths& codeLengths) noexcept {
    std::array<uint8_t, kSymbols> lengthAtRank{};
    uint32_t rank = 0;
    for (uint32_t length = 1; length <= maxLength; ++length) {
        for (int32_t n = 0; n < bits[length]; ++n)
            lengthAtRank[rank++] = static_cast<uint8_t>(length);
    }
    std::array<uint32_t, kSizeSlots> nextRank{};
    for (const uint16_t size : codeSize) {
        if (size != 0 && size + 1U < kSizeSlots) ++nextRank[size + 1U];
    }
    for (uint32_t size = 1; size < kSizeSlots; ++size)
        nextRank[size] += nextRank[size - 1];
    for (uint32_t symbol = 0; symbol < kSymbols; ++symbol) {
        const uint16_t size = codeSize[symbol];
        if (size != 0) codeLengths[symbol] = lengthAtRank[nextRank[size]++];
    }
}

constexpr std::array<uint8_t, 256> kMirroredBytes = [] {
    std::array<uint8_t, 256> table{};
    for (uint32_t value = 0; value < 256; ++value) {
        uint32_t mirrored = 0;
        for (uint32_t bit = 0; bit < 8; ++bit)
            mirrored |= ((value >> bit) & 1U) << (7 - bit);
        table[value] = static_cast<uint8_t>(mirrored);
    }
    return table;
}();

[[nodiscard]] uint16_t Mirror(uint32_t code, uint32_t length) noexcept {
    const uint32_t mirrored16 =
        (uint32_t{kMirroredBytes[code & 0xFFU]} << 8) | kMirroredBytes[(code >> 8) & 0xFFU];
    return static_cast<uint16_t>(mirrored16 >> (16 - length));
}

// Consecutive codes per length, increasing with the symbol number: what the reference's
// numbering gives, and after an adjustment its exchange sort.
void AssignCanonicalCodes(const HuffmanLengths& codeLengths, const SizeCounts& bits,
                          uint32_t maxLength, HuffmanCodes& codes) noexcept {
    std::array<uint32_t, kLongestSupportedLength + 1> nextCode{};
    uint32_t code = 0;
    for (uint32_t length = 1; length <= maxLength; ++length) {
        code = (code + static_cast<uint32_t>(bits[length - 1])) << 1;
        nextCode[length] = code;
    }
    for (uint32_t symbol = 0; symbol < kSymbols; ++symbol) {
        const uint8_t length = codeLengths[symbol];
        if (length != 0) codes[symbol] = Mirror(nextCode[length]++, length);
    }
}

[[nodiscard]] bool BuildTableFast(HuffmanCounts& frequencies, HuffmanLengths& codeLengths,
                                  HuffmanCodes& codes, uint32_t maxLength) {
    uint64_t total = 0;
    uint32_t counted = 0;
    uint32_t lastCounted = 0;
    for (uint32_t symbol = 0; symbol < kSymbols; ++symbol) {
        if (frequencies[symbol] == 0) continue;
        total += frequencies[symbol];
        ++counted;
        lastCounted = symbol;
    }
    // Merged counts wrap in the reference past 32 bits, and a full alphabet is refused there.
    if (total > std::numeric_limits<uint32_t>::max() || counted >= kSymbols) return false;
    if (counted < 2) {
        codeLengths.fill(0);
        codes.fill(0);
        if (counted == 1) codeLengths[lastCounted] = 1;
        return true;
    }
    CodeSizes codeSize{};
    const MergeNode root = MergeLeast(frequencies, codeSize);
    SizeCounts bits{};
    if (!LimitLengthCounts(codeSize, maxLength, bits)) return false;
    codeLengths.fill(0);
    codes.fill(0);
    AssignLengths(codeSize, bits, maxLength, codeLengths);
    AssignCanonicalCodes(codeLengths, bits, maxLength, codes);
    // The counts are left as the reference's merging leaves them: the total in the root's slot.
    frequencies.fill(0);
    frequencies[root.symbol] = root.count;
    return true;
}

}  // namespace

void BuildTableReference(HuffmanCounts& frequencies, HuffmanLengths& codeLengths,
                         HuffmanCodes& codes, uint32_t maxLength) {
    RequireSupportedMaxLength(maxLength);
    codeLengths.fill(0);
    codes.fill(0);
    ReferenceWork work;
    work.saved = frequencies;
    work.others.fill(-1);
    if (!BuildCodeSizes(frequencies, work)) return;
    for (const uint32_t size : work.codeSize) {
        if (size != 0) ++work.bits[size];
    }
    const bool adjusted = LimitSizes(work, maxLength);
    CheckCodeCount(work, maxLength);
    SortBySize(work, maxLength);
    ListSizes(work, maxLength);
    NumberCodes(work);
    AssignCodes(work, maxLength, codeLengths, codes);
    if (adjusted) ReorderPairs(codeLengths, codes);
    CheckValues(work, codeLengths);
    CheckCodes(codeLengths, codes, maxLength);
    for (uint32_t symbol = 0; symbol < kSymbols; ++symbol) {
        codes[symbol] = MirrorBitByBit(codes[symbol], codeLengths[symbol]);
    }
}

void PngHuffmanEncoder::Reset() noexcept {
    frequencies_.fill(0);
}

void PngHuffmanEncoder::IncrementFrequency(uint32_t symbol) {
    if (symbol >= kSymbolCount) Fail(kIndexOutOfRange);
    ++frequencies_[symbol];
}

void PngHuffmanEncoder::BuildTable(uint32_t maxLength) {
    RequireSupportedMaxLength(maxLength);
    if (!BuildTableFast(frequencies_, codeLengths_, codes_, maxLength)) {
        BuildTableReference(frequencies_, codeLengths_, codes_, maxLength);
    }
}

void PngHuffmanEncoder::Encode(uint32_t symbol, uint16_t& code, uint8_t& length) const {
    if (symbol >= kSymbolCount) Fail(kEncodeIndexOutOfRange);
    if (codeLengths_[symbol] == 0) Fail(kMissingCode);
    code = codes_[symbol];
    length = codeLengths_[symbol];
}

}  // namespace quenpix
