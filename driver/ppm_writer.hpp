// PpmWriter: a 24-bit image as a binary portable pixmap (P6), rows top to bottom.
#pragma once

#include <iosfwd>

namespace quenpix {

class BitmapImage;

// Writes "P6", the width, the height and 255, then the pixels red, green, blue. Throws
// EInvalidBitCount for images that are not 24-bit.
void WritePpm(std::ostream& output, const BitmapImage& image);

}  // namespace quenpix
