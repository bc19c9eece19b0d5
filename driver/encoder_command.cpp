// The encoder's command line: options, files, run sequence and report.
#include "driver/encoder_command.hpp"

#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "colourbox/side_file_name.hpp"
#include "encoder/png_encoder.hpp"
#include "image/bitmap_image.hpp"
#include "image/bmp_decoder.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

namespace {

using Clock = std::chrono::steady_clock;

void PrintUsage(std::ostream& err, const char* programName) {
    err << "Usage: " << programName << " [-I -F -M -P -R] input.bmp output.lsg" << std::endl;
    err << " -I - information of process" << std::endl;
    err << " -F - fasted compression" << std::endl;
    err << " -M - maximal compression" << std::endl;
    err << " -P - not use prediktori" << std::endl;
    err << " -R - only LZ-blocks, oriented to replacement" << std::endl;
}

// Milliseconds between two readings of a monotonic clock, so never negative.
int32_t ElapsedMilliseconds(Clock::time_point from, Clock::time_point to) {
    return static_cast<int32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

// Installed by -I: the percentage on one terminal line, each report overwriting the last.
void ReportProgress(BitmapImageCoder&, void* data, uint32_t pass, uint32_t passCount,
                    uint32_t percent, bool&) {
    auto& out = *static_cast<std::ostream*>(data);
    out << (pass - 1) * 100 / passCount + percent / passCount << "%                \r"
        << std::flush;
}

// Applies one option to the encoder; false when it is not one of -I -F -M -P -R.
bool ApplyOption(const std::string& option, PngEncoder& encoder, std::ostream& out) {
    if (option.size() < 2 || option[0] != '-') return false;
    switch (option[1]) {
        case 'I':
            encoder.SetProgressFunction(ReportProgress, &out);
            return true;
        case 'F':
            encoder.SetCompressionLevel(0);
            return true;
        case 'M':
            encoder.SetCompressionLevel(3);
            return true;
        case 'P':
            encoder.DisableVerticalPlane();
            encoder.DisableHorizontalPlane();
            return true;
        case 'R':
            encoder.SetReplaceShortMatches(false);
            return true;
        default:
            return false;
    }
}

// Removes what a failed run wrote. Only regular files: an output named /dev/stdout or a pipe
// must survive a failure.
void RemoveOutputs(const std::string& outputName, const std::string& sideName) {
    for (const std::string* name : {&outputName, &sideName}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(*name, error)) std::filesystem::remove(*name, error);
    }
}

}  // namespace

int RunEncoderCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    const Clock::time_point runStart = Clock::now();
    const char* programName = argc > 0 ? argv[0] : "Quenpix";
    if (argc < 3) {
        PrintUsage(err, programName);
        return 1;
    }

    PngEncoder encoder;
    encoder.SetThreadCount(0);  // every CPU the process may run on
    for (int i = 1; i < argc - 2; ++i) {
        if (!ApplyOption(argv[i], encoder, out)) {
            PrintUsage(err, programName);
            return 1;
        }
    }
    const std::string inputName = argv[argc - 2];
    const std::string outputName = argv[argc - 1];
    const std::string sideName = SideFileName(outputName);

    std::ifstream input(inputName, std::ios::binary);
    if (!input.good()) {
        err << "Can't open input file " << inputName << std::endl;
        return 1;
    }
    BitmapImage image;
    try {
        BmpDecoder decoder;
        decoder.ReadImage(input, image);
    } catch (const std::exception& e) {
        err << e.what() << std::endl;
        return 1;
    }
    // Refused before the output file is opened, so an existing file of that name survives.
    if (image.BitCount() != 24) {
        err << messages::kNotTrueColour << std::endl;
        return 1;
    }
    try {
        PngEncoder::CheckEncodable(image);
    } catch (const std::exception& e) {
        err << e.what() << std::endl;
        return 1;
    }

    std::ofstream output(outputName, std::ios::binary | std::ios::trunc);
    if (!output) {
        err << "Can't open output file " << outputName << std::endl;
        return 1;
    }

    const Clock::time_point encodeStart = Clock::now();
    try {
        encoder.WriteImage(output, image);
        output.close();
        if (!output) throw std::runtime_error("Error writing output file " + outputName);
    } catch (const std::exception& e) {
        err << e.what() << std::endl;
        output.close();
        RemoveOutputs(outputName, sideName);
        return 1;
    }
    const Clock::time_point encodeEnd = Clock::now();

    {
        std::ofstream side(sideName, std::ios::binary | std::ios::trunc);
        if (!side) {
            err << "Can't open output file " << sideName << std::endl;
            // Without its side file the output cannot be decoded; the side file itself was
            // never opened, so whatever stands under its name is left alone.
            RemoveOutputs(outputName, "");
            return 1;
        }
        const auto bytes = encoder.SideFile().Contents();
        side.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        side.close();
        if (!side) {
            err << "Error writing output file " << sideName << std::endl;
            RemoveOutputs(outputName, sideName);
            return 1;
        }
    }
    encoder.FreeSideFile();
    const Clock::time_point runEnd = Clock::now();

    const MatchCounters& counters = encoder.Counters();
    out << std::endl;
    out << ElapsedMilliseconds(runStart, runEnd) << " miliseconds execute." << std::endl;
    out << ElapsedMilliseconds(encodeStart, encodeEnd) << " miliseconds copmress." << std::endl;
    out << "Zamineno: " << counters.Total() << " (" << counters.Raw() << " S + "
        << counters.Vertical() << " V + " << counters.Horizontal() << " G)" << std::endl;
    return 0;
}

}  // namespace quenpix
