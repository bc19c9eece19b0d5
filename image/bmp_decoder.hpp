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

    // On: a bitmap of fewer than 24 bits is read and checked in full, with the same failures,
    // but its pixels are not kept: the image gets its bit count and colour map and no rows. For
    // callers that refuse such images anyway, so that a small file declaring a huge one costs
    // nothing.
    void SetTrueColourOnly(bool on) noexcept { trueColourOnly_ = on; }

  protected:
    // Reports pass 1 of 1; throws EGraphicsAbort when the progress function cancels.
    void CallProgressFunction(uint32_t percent);

  private:
    bool trueColourOnly_ = false;
};

}  // namespace quenpix
