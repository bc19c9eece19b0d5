// The encoder's command line: options, files, run sequence and report.
#include "driver/encoder_command.hpp"

#include <chrono>
#include <exception>
#include <fstream>
#include <new>
#include <ostream>
#include <string>

#include "driver/file_identity.hpp"
#include "driver/input_file.hpp"
#include "driver/output_set.hpp"
#include "encoder/png_encoder.hpp"
#include "format/side_file_name.hpp"
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

// Refuses names under which writing would destroy the input or one of the two outputs.
[[nodiscard]] bool NamesAreDistinct(const std::string& inputName, const std::string& outputName,
                                    const std::string& sideName, std::ostream& err) {
    if (SameFile(outputName, sideName)) {
        err << "Output file " << outputName << " would be replaced by its own side file"
            << std::endl;
        return false;
    }
    if (SameFile(outputName, inputName)) {
        err << "Output file " << outputName << " would replace the input" << std::endl;
        return false;
    }
    if (SameFile(sideName, inputName)) {
        err << "Side file " << sideName << " would replace the input" << std::endl;
        return false;
    }
    return true;
}

// Reads, encodes, writes and reports. Both files are written in full under temporary names and
// replace what stands under their names only once everything has succeeded.
int CompressFile(PngEncoder& encoder, const std::string& inputName, const std::string& outputName,
                 Clock::time_point runStart, std::ostream& out, std::ostream& err) {
    const std::string sideName = SideFileName(outputName);
    RefuseFolder(inputName);
    std::ifstream input(inputName, std::ios::binary);
    if (!input.good()) {
        err << "Can't open input file " << inputName << std::endl;
        return 1;
    }
    if (!NamesAreDistinct(inputName, outputName, sideName, err)) return 1;

    BitmapImage image;
    try {
        BmpDecoder decoder;
        // Other bit counts are refused below; their pixels are never needed.
        decoder.SetTrueColourOnly(true);
        decoder.ReadImage(input, image);
    } catch (const std::exception& e) {
        err << e.what() << std::endl;
        return 1;
    }
    // Refused before any output is opened, so an existing file of that name survives.
    if (image.BitCount() != 24) {
        err << messages::kNotTrueColour << std::endl;
        return 1;
    }
    PngEncoder::CheckEncodable(image);

    OutputSet outputs;
    std::ostream& output = outputs.Open(outputName);
    std::ostream& side = outputs.Open(sideName);

    const Clock::time_point encodeStart = Clock::now();
    encoder.WriteImage(output, image);
    const Clock::time_point encodeEnd = Clock::now();
    const auto bytes = encoder.SideFile().Contents();
    side.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    outputs.Commit();
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
    try {
        return CompressFile(encoder, inputName, outputName, runStart, out, err);
    } catch (const std::bad_alloc&) {
        err << "Not enough memory to compress " << inputName << std::endl;
    } catch (const std::exception& e) {
        err << e.what() << std::endl;
    }
    return 1;
}

}  // namespace quenpix
