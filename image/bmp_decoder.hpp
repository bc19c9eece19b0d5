// BmpDecoder: reads Windows bitmaps (OS/2 and Windows headers, 1/4/8/24 bits, RLE4/RLE8).
#pragma once

#include <iosfwd>

#include "image/coder.hpp"

namespace quenpix {

class BmpDecoder final : public BitmapImageDecoder {
  public:
    // Fills `image` from the BMP at the stream's position; throws an EGraphicsException
    // subclass on malformed or unsupported input.
    void ReadImage(std::istream& input, BitmapImage& image) override;

  protected:
    // Reports pass 1 of 1; throws EGraphicsAbort when the progress function cancels.
    void CallProgressFunction(uint32_t percent);
};

}  // namespace quenpix
