// The exception classes of the image library; each carries one fixed message.
#pragma once

#include <stdexcept>
#include <string>

namespace quenpix {

// Base of every failure the library reports. Allocation failures stay std::bad_alloc.
class EGraphicsException : public std::logic_error {
  public:
    explicit EGraphicsException(const std::string& message) : std::logic_error(message) {}
};

#define QUENPIX_DECLARE_EXCEPTION(Name)                                            \
    class Name final : public EGraphicsException {                                 \
      public:                                                                      \
        explicit Name(const std::string& message) : EGraphicsException(message) {} \
    }

QUENPIX_DECLARE_EXCEPTION(EGraphicsAbort);
QUENPIX_DECLARE_EXCEPTION(EBmpFileReadError);
QUENPIX_DECLARE_EXCEPTION(EBmpNotABmpFile);
QUENPIX_DECLARE_EXCEPTION(EBmpCorruptFile);
QUENPIX_DECLARE_EXCEPTION(EBmpNotSupported);
QUENPIX_DECLARE_EXCEPTION(EInvalidBitCount);
QUENPIX_DECLARE_EXCEPTION(ESubscriptOutOfRange);
QUENPIX_DECLARE_EXCEPTION(EPngError);
// Dimensions whose buffers cannot be addressed with the codec's 32-bit sizes.
QUENPIX_DECLARE_EXCEPTION(EImageTooLarge);
// A compressed file or side file that does not decode.
QUENPIX_DECLARE_EXCEPTION(EDecodeError);

#undef QUENPIX_DECLARE_EXCEPTION

// The fixed texts, declared once so that throw sites and tests agree.
namespace messages {
inline constexpr const char* kAbort = "Abort";
inline constexpr const char* kBmpReadError = "Error reading BMP input file";
inline constexpr const char* kNotABmp = "Not a Windows Bitmap stream";
inline constexpr const char* kCorruptBmp = "Corrupt Windows Bitmap stream";
inline constexpr const char* kUnsupportedBmp = "Unsupported Bitmap Format";
inline constexpr const char* kInvalidBitCount = "Invalid bit count";
inline constexpr const char* kSubscriptOutOfRange = "Subscript out of range";
inline constexpr const char* kInvalidCompressionLevel = "Invalid Compression Level";
inline constexpr const char* kOutputBufferOverrun = "Output Buffer Overrun";
inline constexpr const char* kImageTooLarge = "Image too large: its dimensions exceed 32-bit sizes";
inline constexpr const char* kImageTooLargeToEncode = "Image too large to encode";
inline constexpr const char* kImageEmpty = "Image has no pixels";
inline constexpr const char* kNotTrueColour = "Image not is True Color (24 bits)";
}  // namespace messages

}  // namespace quenpix
