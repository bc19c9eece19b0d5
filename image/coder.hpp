// The coder bases shared by the BMP reader and the encoder, with the progress protocol.
#pragma once

#include <cstdint>
#include <iosfwd>

namespace quenpix {

class BitmapImage;
class BitmapImageCoder;

// Called with (coder, data, pass from 1, pass count, percent of the pass, cancel flag).
// The flag is false on entry; setting it asks the coder to stop.
using ProgressFunction = void (*)(BitmapImageCoder& coder, void* data, uint32_t pass,
                                  uint32_t passCount, uint32_t percent, bool& cancel);

class BitmapImageCoder {
  public:
    virtual ~BitmapImageCoder() = default;

    // Passing a null function turns reporting off.
    void SetProgressFunction(ProgressFunction function, void* data) noexcept {
        progressFunction_ = function;
        progressData_ = data;
    }

  protected:
    [[nodiscard]] bool HasProgressFunction() const noexcept { return progressFunction_ != nullptr; }

    // Reports pass 1 of 1 and returns the cancel flag; false when no function is set.
    [[nodiscard]] bool ReportProgressPercent(uint32_t percent) {
        if (progressFunction_ == nullptr) return false;
        bool cancel = false;
        progressFunction_(*this, progressData_, 1, 1, percent, cancel);
        return cancel;
    }

  private:
    ProgressFunction progressFunction_ = nullptr;
    void* progressData_ = nullptr;
};

class BitmapImageDecoder : public BitmapImageCoder {
  public:
    virtual void ReadImage(std::istream& input, BitmapImage& image) = 0;
};

class BitmapImageEncoder : public BitmapImageCoder {
  public:
    virtual void WriteImage(std::ostream& output, BitmapImage& image) = 0;
};

}  // namespace quenpix
