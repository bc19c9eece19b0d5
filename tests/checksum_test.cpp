// The fast checksum paths, and the portable ones they stand in for, against the plainest forms,
// over lengths and alignments that reach every block size and every tail.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

#include "format/adler32.hpp"
#include "format/crc32.hpp"

namespace quenpix {
namespace {

std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1103515245 + 12345;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

TEST(Checksums, FastPathsAgreeWithBytewiseOnes) {
    // Longer than a reduction run of Adler-32 and than many folds of the CRC; all-255 bytes
    // give the largest sums.
    for (const bool saturated : {false, true}) {
        std::vector<uint8_t> data = Noise(12000, saturated ? 1 : 7);
        if (saturated) std::fill(data.begin(), data.end(), 0xFF);
        for (size_t start : {size_t{0}, size_t{1}, size_t{7}}) {
            for (size_t size = 0; size + start <= data.size(); size += size < 300 ? 1 : 997) {
                const std::span<const uint8_t> bytes(data.data() + start, size);
                uint32_t crc = 0x12345678;
                uint32_t adler = 0x0ABC0DEF % kAdlerModulus;
                const uint32_t crcStart = crc;
                const uint32_t adlerStart = adler;
                for (const uint8_t b : bytes) {
                    crc = kCrc32Tables[0][(crc ^ b) & 0xFF] ^ (crc >> 8);
                    adler = UpdateAdler32(adler, b);
                }
                ASSERT_EQ(Crc32(crcStart, bytes), crc) << size << " from " << start;
                ASSERT_EQ(UpdateAdler32(adlerStart, bytes), adler) << size << " from " << start;
                ASSERT_EQ(UpdateAdler32Portable(adlerStart, bytes), adler) << size;
            }
        }
    }
}

}  // namespace
}  // namespace quenpix
