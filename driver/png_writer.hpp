// PngWriter: a 24-bit image as an ordinary PNG file, through libpng, for any image viewer.
#pragma once

#include <iosfwd>

namespace quenpix {

class BitmapImage;

// Writes an 8-bit RGB PNG, compressed for speed rather than size. Throws EInvalidBitCount for
// images that are not 24-bit and std::runtime_error with libpng's message if it fails.
void WritePng(std::ostream& output, const BitmapImage& image);

}  // namespace quenpix
