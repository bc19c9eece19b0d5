// The decoder's command line: options, files, decoding, the bitmap put in place when complete.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace quenpix {

// Runs the decoder tool on argv and returns the exit status (0 success, 1 any failure).
// Usage and errors go to `err`, the version and progress to `out`.
[[nodiscard]] int RunDecoderCommand(int argc, const char* const* argv, std::ostream& out,
                                    std::ostream& err);

// The output name used when none is given: the input name with the extension of its last path
// component replaced by ".bmp" (appended when that component has none).
[[nodiscard]] std::string DefaultBitmapName(std::string_view inputName);

}  // namespace quenpix
