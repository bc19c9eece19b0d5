// The decoder's command line taken apart: options, the input, the output and its format.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <variant>

#include "driver/image_format.hpp"

namespace quenpix {

inline constexpr std::string_view kStandardOutputName = "-";

struct DecoderArguments {
    bool testOnly = false;
    bool showProgress = false;
    bool showVersion = false;
    bool showHelp = false;
    bool showInfo = false;
    bool overwrite = false;
    uint32_t threads = 0;  // as many as the process may run on
    std::string input;
    // "-" for standard output; empty with -t and --info.
    std::string output;
    ImageFormat format = ImageFormat::kBmp;
};

// Why a command line was refused: the line to print before the usage text (empty: the usage
// alone).
struct ArgumentError {
    std::string message;
};

// Options may stand anywhere; the first other argument is the input, the second the output. The
// output's format comes from --format, else from its extension (BMP for standard output, devices
// and pipes); without an output name the image goes beside the input, named for the format.
[[nodiscard]] std::variant<DecoderArguments, ArgumentError> ParseDecoderArguments(
    int argc, const char* const* argv);

void PrintDecoderUsage(std::ostream& stream, const char* programName);

}  // namespace quenpix
