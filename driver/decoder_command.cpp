// The decoder's command line: options, files, decoding, the bitmap put in place when complete.
#include "driver/decoder_command.hpp"

#include <exception>
#include <new>
#include <optional>
#include <ostream>
#include <vector>

#include <sys/stat.h>

#include "colourbox/side_file_name.hpp"
#include "decoder/png_decoder.hpp"
#include "driver/file_identity.hpp"
#include "driver/input_file.hpp"
#include "driver/output_set.hpp"
#include "image/bitmap_image.hpp"
#include "image/bmp_encoder.hpp"
#include "stream/match_finder.hpp"

namespace quenpix {

namespace {

constexpr std::string_view kBitmapExtension = ".bmp";
// No valid file comes near these: the costliest token of a pixel takes 48 bits, and the side
// file holds at most three bytes per pixel beside its box table.
constexpr uint64_t kMaxCompressedFileBytes = kMaxPlaneBytes / 3 * 8;
constexpr uint64_t kMaxSideFileBytes = kMaxPlaneBytes + 4096;

struct Arguments {
    bool testOnly = false;
    bool showProgress = false;
    bool showVersion = false;
    bool overwrite = false;
    std::string input;
    std::string output;
};

void PrintUsage(std::ostream& err, const char* programName) {
    err << "Usage: " << programName << " [-t] [-I] [-f] input.lsg [output.bmp]" << std::endl;
    err << " -t - test: decode and verify, write nothing" << std::endl;
    err << " -f - overwrite an existing output file" << std::endl;
    err << " -I - information of process" << std::endl;
    err << " --version - print the version" << std::endl;
}

// Options may stand anywhere; the first other argument is the input, the second the output.
std::optional<Arguments> ParseArguments(int argc, const char* const* argv) {
    Arguments arguments;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-t") {
            arguments.testOnly = true;
        } else if (argument == "-I") {
            arguments.showProgress = true;
        } else if (argument == "-f") {
            arguments.overwrite = true;
        } else if (argument == "--version") {
            arguments.showVersion = true;
        } else if (argument.size() > 1 && argument[0] == '-') {
            return std::nullopt;
        } else {
            files.emplace_back(argument);
        }
    }
    if (arguments.showVersion) return arguments;
    // With -t nothing is written, so an output name would be silently ignored: refused.
    if (files.empty() || files.size() > 2 || (arguments.testOnly && files.size() == 2)) {
        return std::nullopt;
    }
    arguments.input = files[0];
    if (!arguments.testOnly) {
        arguments.output = files.size() == 2 ? files[1] : DefaultBitmapName(files[0]);
    }
    return arguments;
}

// Installed by -I: the percentage on one terminal line, each report overwriting the last.
void ReportProgress(BitmapImageCoder&, void* data, uint32_t pass, uint32_t passCount,
                    uint32_t percent, bool&) {
    auto& out = *static_cast<std::ostream*>(data);
    out << (pass - 1) * 100 / passCount + percent / passCount << "%                \r"
        << std::flush;
}

// Refuses an output that would destroy the input or its side file, or, without -f, any existing
// file. Devices and pipes are not files that writing replaces.
[[nodiscard]] bool OutputIsAllowed(const Arguments& arguments, const std::string& sideName,
                                   std::ostream& err) {
    const std::string& output = arguments.output;
    if (SameFile(output, arguments.input)) {
        err << "Output file " << output << " would replace the input" << std::endl;
        return false;
    }
    if (SameFile(output, sideName)) {
        err << "Output file " << output << " would replace the side file " << sideName << std::endl;
        return false;
    }
    struct stat existing {};
    if (!arguments.overwrite && stat(output.c_str(), &existing) == 0 && !WritesInPlace(output)) {
        err << "Output file " << output << " already exists; use -f to overwrite it" << std::endl;
        return false;
    }
    return true;
}

int DecodeFile(const Arguments& arguments, std::ostream& out, std::ostream& err) {
    const FileBytes file = ReadInputFile(arguments.input, "input file", kMaxCompressedFileBytes);
    const std::string sideName = SideFileName(arguments.input);
    const FileBytes sideFile = ReadInputFile(sideName, "side file", kMaxSideFileBytes);
    if (!arguments.testOnly && !OutputIsAllowed(arguments, sideName, err)) return 1;

    BitmapImage image;
    try {
        PngDecoder decoder;
        if (arguments.showProgress) decoder.SetProgressFunction(ReportProgress, &out);
        decoder.DecodeImage(file.Bytes(), sideFile.Bytes(), image);
    } catch (...) {
        if (arguments.showProgress) out << std::endl;
        throw;
    }
    // The progress line is overwritten in place; end it before anything else is printed.
    if (arguments.showProgress) out << std::endl;
    if (arguments.testOnly) return 0;

    OutputSet outputs;
    BmpEncoder encoder;
    encoder.WriteImage(outputs.Open(arguments.output), image);
    outputs.Commit();
    return 0;
}

}  // namespace

std::string DefaultBitmapName(std::string_view inputName) {
    return WithExtension(inputName, kBitmapExtension);
}

int RunDecoderCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    const char* programName = argc > 0 ? argv[0] : "quenpix-decode";
    const std::optional<Arguments> parsed = ParseArguments(argc, argv);
    if (!parsed) {
        PrintUsage(err, programName);
        return 1;
    }
    const Arguments& arguments = *parsed;
    if (arguments.showVersion) {
        out << "quenpix-decode " << QUENPIX_VERSION << std::endl;
        return 0;
    }
    try {
        return DecodeFile(arguments, out, err);
    } catch (const std::bad_alloc&) {
        err << "Not enough memory to decode " << arguments.input << std::endl;
    } catch (const std::exception& e) {
        err << e.what() << std::endl;
    }
    return 1;
}

}  // namespace quenpix
