// The decoder's command line: options, files, decoding, the image put in place when complete.
#include "driver/decoder_command.hpp"

#include <sys/stat.h>

#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "decoder/decode_messages.hpp"
#include "decoder/png_decoder.hpp"
#include "driver/decoder_arguments.hpp"
#include "driver/decoder_limits.hpp"
#include "driver/file_identity.hpp"
#include "driver/file_info.hpp"
#include "driver/input_file.hpp"
#include "driver/output_set.hpp"
#include "driver/streamed_bitmap.hpp"
#include "format/side_file_name.hpp"
#include "image/bitmap_image.hpp"
#include "image/exceptions.hpp"

namespace quenpix {

namespace {

// Installed by -I: the percentage on one terminal line, each report overwriting the last.
void ReportProgress(BitmapImageCoder&, void* data, uint32_t pass, uint32_t passCount,
                    uint32_t percent, bool&) {
    auto& out = *static_cast<std::ostream*>(data);
    out << (pass - 1) * 100 / passCount + percent / passCount << "%                \r"
        << std::flush;
}

// Refuses an output that would destroy the input or its side file, or, without -f, any existing
// file. Devices and pipes are not files that writing replaces.
[[nodiscard]] bool OutputIsAllowed(const DecoderArguments& arguments, const std::string& sideName,
                                   std::ostream& err) {
    const std::string& output = arguments.output;
    if (output == kStandardOutputName) return true;
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

// A checksum that fails, or a box the side file lacks, most often means that the side file
// beside the compressed file is another image's.
[[nodiscard]] std::string WithSideFileHint(const std::string& message,
                                           const std::string& sideName) {
    for (const char* mismatch :
         {decode_messages::kChecksumMismatch, decode_messages::kBoxOutOfRange,
          decode_messages::kSideFileTooShort, decode_messages::kSideFileTooLong}) {
        if (message == mismatch) {
            return message + "; the side file " + sideName + " may belong to another image";
        }
    }
    return message;
}

void WriteImage(const DecoderArguments& arguments, BitmapImage& image, std::ostream& out) {
    if (arguments.output == kStandardOutputName) {
        WriteImageAs(arguments.format, out, image);
        out.flush();
        if (!out) throw OutputError("Error writing to standard output");
        return;
    }
    OutputSet outputs;
    WriteImageAs(arguments.format, outputs.Open(arguments.output), image);
    outputs.Commit();
}

// Rows that are checked and dropped: -t keeps nothing of the image but a row.
class DroppedRows final : public RowTarget {
  public:
    void Start(uint32_t width, uint32_t) override { row_.resize(size_t{4} * width); }
    [[nodiscard]] uint8_t* Row(uint32_t) noexcept override { return row_.data(); }
    void Finished(uint32_t) noexcept override {}

  private:
    std::vector<uint8_t> row_;
};

// A bitmap going to a file that is replaced when complete is written while it is decoded.
[[nodiscard]] bool StreamsOutput(const DecoderArguments& arguments) {
    return !arguments.testOnly && arguments.format == ImageFormat::kBmp &&
           arguments.output != kStandardOutputName && !WritesInPlace(arguments.output);
}

int DecodeFile(const DecoderArguments& arguments, std::ostream& out, std::ostream& err) {
    const FileBytes file = ReadInputFile(arguments.input, "input file", kMaxCompressedFileBytes);
    const std::string sideName = SideFileName(arguments.input);
    const FileBytes sideFile = ReadInputFile(sideName, "side file", kMaxSideFileBytes);
    if (!arguments.testOnly && !OutputIsAllowed(arguments, sideName, err)) return 1;

    // Declared in this order so that the writer stops before its file is closed or removed.
    std::optional<OutputSet> outputs;
    std::optional<StreamedBitmap> streamed;
    if (StreamsOutput(arguments)) {
        outputs.emplace();
        streamed.emplace(outputs->OpenForPositionedWrites(arguments.output), arguments.output);
    }
    // The image itself may be going to standard output: progress then goes to standard error.
    std::ostream& progress = arguments.output == kStandardOutputName ? err : out;
    BitmapImage image;
    try {
        PngDecoder decoder;
        decoder.SetThreadCount(arguments.threads);
        if (arguments.showProgress) decoder.SetProgressFunction(ReportProgress, &progress);
        if (streamed) {
            decoder.DecodeRows(file.Bytes(), sideFile.Bytes(), *streamed);
        } else if (arguments.testOnly) {
            DroppedRows dropped;
            decoder.DecodeRows(file.Bytes(), sideFile.Bytes(), dropped);
        } else {
            decoder.DecodeImage(file.Bytes(), sideFile.Bytes(), image);
        }
    } catch (const EDecodeError& e) {
        if (arguments.showProgress) progress << std::endl;
        err << WithSideFileHint(e.what(), sideName) << std::endl;
        return 1;
    } catch (...) {
        if (arguments.showProgress) progress << std::endl;
        throw;
    }
    // The progress line is overwritten in place; end it before anything else is printed.
    if (arguments.showProgress) progress << std::endl;
    if (arguments.testOnly) return 0;
    if (streamed) {
        streamed->Finish();
        outputs->Commit();
        return 0;
    }
    WriteImage(arguments, image, out);
    return 0;
}

}  // namespace

std::string DefaultBitmapName(std::string_view inputName) {
    return WithExtension(inputName, ExtensionOf(ImageFormat::kBmp));
}

int RunDecoderCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    const char* programName = argc > 0 ? argv[0] : "quenpix-decode";
    const auto parsed = ParseDecoderArguments(argc, argv);
    if (const auto* error = std::get_if<ArgumentError>(&parsed)) {
        if (!error->message.empty()) err << error->message << std::endl;
        PrintDecoderUsage(err, programName);
        return 1;
    }
    const auto& arguments = std::get<DecoderArguments>(parsed);
    if (arguments.showHelp) {
        PrintDecoderUsage(out, programName);
        return 0;
    }
    if (arguments.showVersion) {
        out << "quenpix-decode " << QUENPIX_VERSION << std::endl;
        return 0;
    }
    try {
        if (arguments.showInfo) return PrintFileInfo(arguments.input, out, err);
        return DecodeFile(arguments, out, err);
    } catch (const std::bad_alloc&) {
        err << "Not enough memory to decode " << arguments.input << std::endl;
    } catch (const std::exception& e) {
        err << e.what() << std::endl;
    }
    return 1;
}

}  // namespace quenpix
