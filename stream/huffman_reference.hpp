// The step-by-step code builder: the fallback of PngHuffmanEncoder for unusual counts and the
// yardstick that its fast builder is tested against.
#pragma once

#include <array>
#include <cstdint>

#include "stream/huffman_encoder.hpp"

namespace quenpix {

using HuffmanCounts = std::array<uint32_t, PngHuffmanEncoder::kSymbolCount>;
using HuffmanLengths = std::array<uint8_t, PngHuffmanEncoder::kSymbolCount>;
using HuffmanCodes = std::array<uint16_t, PngHuffmanEncoder::kSymbolCount>;

// Same contract as PngHuffmanEncoder::BuildTable, on bare arrays: consumes `frequencies`, fills
// `codeLengths` and the bit-reversed `codes`, throws EPngError with the builder's messages.
// Rescans all symbols per merge and compares all pairs, so it costs about 288 * 288 steps.
void BuildTableReference(HuffmanCounts& frequencies, HuffmanLengths& codeLengths,
                         HuffmanCodes& codes, uint32_t maxLength);

}  // namespace quenpix
