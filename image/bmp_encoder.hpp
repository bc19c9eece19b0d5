// BmpEncoder: writes a 24-bit image as an uncompressed bottom-up Windows bitmap.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>

#include "image/coder.hpp"

namespace quenpix {

class BmpEncoder final : public BitmapImageEncoder {
  public:
    static constexpr uint32_t kFileHeaderBytes = 14;
    static constexpr uint32_t kInfoHeaderBytes = 40;
    static constexpr uint32_t kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;

    // The two headers of a 24-bit image of this size, its rows stored bottom-up, each padded to a
    // multiple of 4 bytes. Throws EImageTooLarge when the file size would not fit its 32-bit
    // field.
    [[nodiscard]] static std::array<uint8_t, kHeaderBytes> Header(uint32_t width, uint32_t height);

    // Writes the file header, a 40-byte info header and the rows bottom-up, each padded with
    // zeros to a multiple of 4 bytes. Throws EInvalidBitCount for images that are not 24-bit
    // and EImageTooLarge when the file size would not fit its 32-bit field.
    void WriteImage(std::ostream& output, BitmapImage& image) override;
};

}  // namespace quenpix
