// PngHuffmanEncoder: counts symbols and builds length-limited canonical prefix codes.
#pragma once

#include <array>
#include <cstdint>

namespace quenpix {

class PngHuffmanEncoder final {
  public:
    // Room for the whole literal/length alphabet, whatever alphabet an instance serves.
    static constexpr uint32_t kSymbolCount = 288;

    PngHuffmanEncoder() = default;

    // All counts to 0.
    void Reset() noexcept;
    // Counts one occurrence; throws EPngError "Index out of range" above 287.
    void IncrementFrequency(uint32_t symbol);
    // Builds codeLengths and codes (bit-reversed) from the counts, which it consumes.
    void BuildTable(uint32_t maxLength);
    // The bit-reversed code of `symbol` and its length, ready for the bit writer.
    // Throws "Index Out of Range" above 287 and "INTERNAL ERROR - Missing Huffman Code"
    // for a symbol without a code.
    void Encode(uint32_t symbol, uint16_t& code, uint8_t& length) const;

    // Direct access for the short-match cost estimate, which writes whole sets of counts.
    [[nodiscard]] std::array<uint32_t, kSymbolCount>& Frequencies() noexcept {
        return frequencies_;
    }
    [[nodiscard]] const std::array<uint8_t, kSymbolCount>& CodeLengths() const noexcept {
        return codeLengths_;
    }
    [[nodiscard]] const std::array<uint16_t, kSymbolCount>& Codes() const noexcept {
        return codes_;
    }

  private:
    std::array<uint32_t, kSymbolCount> frequencies_{};
    std::array<uint8_t, kSymbolCount> codeLengths_{};
    std::array<uint16_t, kSymbolCount> codes_{};
};

}  // namespace quenpix
