// The encoder's command line: options, files, run sequence and report.
#pragma once

#include <iosfwd>

namespace quenpix {

// Runs the encoder tool on argv and returns the exit status. Usage and errors go to `err`,
// progress and the report to `out`.
[[nodiscard]] int RunEncoderCommand(int argc, const char* const* argv, std::ostream& out,
                                    std::ostream& err);

}  // namespace quenpix
