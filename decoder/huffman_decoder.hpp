// HuffmanDecoder: canonical prefix codes from code lengths, decoded by table look-up.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "decoder/bit_reader.hpp"

namespace quenpix {

class HuffmanDecoder final {
  public:
    static constexpr uint32_t kMaxCodeLength = 15;
    // Codes up to this long resolve in one look-up; longer ones take a second, small table.
    static constexpr uint32_t kRootBits = 10;

    enum class Empty { kRefused, kAllowed };

    // Builds the tables for `lengths` (0 = no code). The lengths must form a complete prefix
    // code, or be a single code of length 1 (the writer's rule for one counted symbol), or,
    // with Empty::kAllowed, hold no code at all. Otherwise throws EDecodeError(`invalidMessage`).
    void Build(std::span<const uint8_t> lengths, Empty empty, const char* invalidMessage);

    // The next symbol. At least kMaxCodeLength bits must be buffered. `Reader` is a BitReader
    // or its Unchecked part.
    template <class Reader>
    [[nodiscard]] uint32_t Decode(Reader& bits) const {
        const uint64_t window = bits.Peek();
        Entry entry = root_[window & kRootMask];
        // One test on the way of the codes the root resolves; a longer code or a pattern with
        // no code both have length 0 there.
        if (entry.length == 0) [[unlikely]] {
            // Inline, with only the fault out of line: a call on the way would make a
            // decoding loop keep its state in memory.
            if (entry.subBits == 0) RefuseUnassignedCode();
            entry = sub_[entry.value + ((window >> kRootBits) & ((1u << entry.subBits) - 1))];
            if (entry.length == 0) RefuseUnassignedCode();
        }
        bits.Consume(entry.length);
        return entry.value;
    }

  private:
    static constexpr uint32_t kRootMask = (1u << kRootBits) - 1;

    // A symbol and its code length; or, with subBits set, the offset of a second-level table
    // indexed by the next subBits bits; or, with length and subBits 0, a pattern with no code.
    struct Entry {
        uint16_t value = 0;
        uint8_t length = 0;
        uint8_t subBits = 0;
    };

    // Throws EDecodeError for a bit pattern that is no code.
    [[noreturn]] static void RefuseUnassignedCode();

    std::array<Entry, 1u << kRootBits> root_{};
    std::vector<Entry> sub_;
};

}  // namespace quenpix
