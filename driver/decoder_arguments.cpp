// The decoder's command line taken apart: options, the input, the output and its format.
#include "driver/decoder_arguments.hpp"

#include <charconv>
#include <optional>
#include <ostream>
#include <vector>

#include "driver/file_identity.hpp"
#include "format/side_file_name.hpp"

namespace quenpix {

namespace {

constexpr std::string_view kFormatOption = "--format";

}  // namespace

void PrintDecoderUsage(std::ostream& stream, const char* programName) {
    stream << "Usage: " << programName
           << " [-t] [-I] [-f] [-j N] [--format bmp|png|ppm] input.lsg [output.bmp|.png|.ppm|-]"
           << std::endl;
    stream << "       " << programName << " --info input.lsg" << std::endl;
    stream << " -t - test: decode and verify, write nothing" << std::endl;
    stream << " -f - overwrite an existing output file" << std::endl;
    stream << " -I - information of process" << std::endl;
    stream << " -j N - decode on N threads (0, the default: as many as the CPUs allowed)"
           << std::endl;
    stream << " --format F - write F (bmp, png or ppm) whatever the output's name; - is standard "
              "output"
           << std::endl;
    stream << " --info - describe the file, write nothing" << std::endl;
    stream << " --help - print this text" << std::endl;
    stream << " --version - print the version" << std::endl;
}

std::variant<DecoderArguments, ArgumentError> ParseDecoderArguments(int argc,
                                                                    const char* const* argv) {
    DecoderArguments arguments;
    std::optional<ImageFormat> format;
    std::vector<std::string> files;
    const auto formatError = [](std::string_view value) {
        return ArgumentError{"Unknown format " + std::string(value) + ": give " +
                             std::string(kFormatNames)};
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        std::optional<std::string_view> formatValue;
        if (argument == "-t") {
            arguments.testOnly = true;
        } else if (argument == "-I") {
            arguments.showProgress = true;
        } else if (argument == "-f") {
            arguments.overwrite = true;
        } else if (argument.starts_with("-j")) {
            // "-j N" or "-jN".
            std::string_view count = argument.substr(2);
            if (count.empty() && i + 1 < argc) count = argv[++i];
            const auto [end, error] =
                std::from_chars(count.data(), count.data() + count.size(), arguments.threads);
            if (error != std::errc() || end != count.data() + count.size()) {
                return ArgumentError{"Bad thread count " + std::string(count) +
                                     ": give a whole number, 0 for as many as the CPUs allow"};
            }
        } else if (argument == "--version") {
            arguments.showVersion = true;
        } else if (argument == "--help") {
            arguments.showHelp = true;
        } else if (argument == "--info") {
            arguments.showInfo = true;
        } else if (argument == kFormatOption) {
            if (++i == argc) return formatError("");
            formatValue = argv[i];
        } else if (argument.starts_with("--format=")) {
            formatValue = argument.substr(kFormatOption.size() + 1);
        } else if (argument.size() > 1 && argument[0] == '-') {
            return ArgumentError{"Unknown option " + std::string(argument)};
        } else {
            files.emplace_back(argument);
        }
        if (formatValue) {
            format = ParseFormat(*formatValue);
            if (!format) return formatError(*formatValue);
        }
    }
    if (arguments.showVersion || arguments.showHelp) return arguments;
    // With -t or --info nothing is written, so an output name would be silently ignored.
    const bool writes = !arguments.testOnly && !arguments.showInfo;
    if (files.empty() || files.size() > 2 || (!writes && files.size() == 2)) return ArgumentError{};
    arguments.input = files[0];
    if (!writes) return arguments;

    if (files.size() == 2) {
        arguments.output = files[1];
        // Standard output, a device or a pipe has no name to go by: BMP, unless --format.
        if (!format && arguments.output != kStandardOutputName &&
            !WritesInPlace(arguments.output)) {
            format = FormatOfName(arguments.output);
            if (!format) {
                return ArgumentError{"Output file " + arguments.output +
                                     ": unknown image format; name it " +
                                     std::string(kFormatExtensions) + ", or give --format " +
                                     std::string(kFormatNames)};
            }
        }
    }
    arguments.format = format.value_or(ImageFormat::kBmp);
    if (arguments.output.empty()) {
        arguments.output = WithExtension(arguments.input, ExtensionOf(arguments.format));
    }
    return arguments;
}

}  // namespace quenpix
