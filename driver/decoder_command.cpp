// The decoder's command line: options, files, decoding, the bitmap written under a temporary name.
#include "driver/decoder_command.hpp"

#include <cstdio>
#include <exception>
#include <fstream>
#include <optional>
#include <ostream>
#include <vector>

#include "colourbox/side_file_name.hpp"
#include "decoder/png_decoder.hpp"
#include "image/bitmap_image.hpp"
#include "image/bmp_encoder.hpp"
#include "image/large_buffer.hpp"

namespace quenpix {

namespace {

constexpr std::string_view kBitmapExtension = ".bmp";
// Appended to the output name while the bitmap is being written; renamed away on success.
constexpr std::string_view kPartialSuffix = ".part";

struct Arguments {
    bool testOnly = false;
    bool showProgress = false;
    bool showVersion = false;
    std::string input;
    std::string output;
};

void PrintUsage(std::ostream& err, const char* programName) {
    err << "Usage: " << programName << " [-t] [-I] input.lsg [output.bmp]" << std::endl;
    err << " -t - test: decode and verify, write nothing" << std::endl;
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

// A whole file in memory.
struct FileBytes {
    LargeBuffer data;
    size_t size = 0;

    [[nodiscard]] std::span<const uint8_t> Bytes() const noexcept { return {data.get(), size}; }
};

std::optional<FileBytes> ReadWholeFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) return std::nullopt;
    in.seekg(0, std::ios::beg);
    FileBytes file{AllocateLarge(static_cast<size_t>(size)), static_cast<size_t>(size)};
    in.read(reinterpret_cast<char*>(file.data.get()), size);
    if (in.gcount() != size) return std::nullopt;
    return file;
}

// Installed by -I: the percentage on one terminal line, each report overwriting the last.
void ReportProgress(BitmapImageCoder&, void* data, uint32_t pass, uint32_t passCount,
                    uint32_t percent, bool&) {
    auto& out = *static_cast<std::ostream*>(data);
    out << (pass - 1) * 100 / passCount + percent / passCount << "%                \r"
        << std::flush;
}

// Writes the bitmap under a temporary name and renames it into place, so that a failure
// never leaves a partial file under the output name.
bool WriteBitmap(BitmapImage& image, const std::string& outputName, std::ostream& err) {
    const std::string partialName = outputName + std::string(kPartialSuffix);
    {
        std::ofstream output(partialName, std::ios::binary | std::ios::trunc);
        if (!output) {
            err << "Can't open output file " << outputName << std::endl;
            return false;
        }
        try {
            BmpEncoder encoder;
            encoder.WriteImage(output, image);
        } catch (const std::exception& e) {
            err << e.what() << std::endl;
            output.close();
            std::remove(partialName.c_str());
            return false;
        }
        output.close();
        if (!output) {
            err << "Error writing output file " << outputName << std::endl;
            std::remove(partialName.c_str());
            return false;
        }
    }
    if (std::rename(partialName.c_str(), outputName.c_str()) != 0) {
        err << "Can't rename " << partialName << " to " << outputName << std::endl;
        std::remove(partialName.c_str());
        return false;
    }
    return true;
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
    if (!arguments.testOnly && arguments.output == arguments.input) {
        err << "Output file " << arguments.output << " would replace the input" << std::endl;
        return 1;
    }

    const std::optional<FileBytes> file = ReadWholeFile(arguments.input);
    if (!file) {
        err << "Can't open input file " << arguments.input << std::endl;
        return 1;
    }
    const std::string sideName = SideFileName(arguments.input);
    const std::optional<FileBytes> sideFile = ReadWholeFile(sideName);
    if (!sideFile) {
        err << "Can't open side file " << sideName << std::endl;
        return 1;
    }

    BitmapImage image;
    try {
        PngDecoder decoder;
        if (arguments.showProgress) decoder.SetProgressFunction(ReportProgress, &out);
        decoder.DecodeImage(file->Bytes(), sideFile->Bytes(), image);
    } catch (const std::exception& e) {
        if (arguments.showProgress) out << std::endl;
        err << e.what() << std::endl;
        return 1;
    }
    // The progress line is overwritten in place; end it before anything else is printed.
    if (arguments.showProgress) out << std::endl;
    if (arguments.testOnly) return 0;
    return WriteBitmap(image, arguments.output, err) ? 0 : 1;
}

}  // namespace quenpix
