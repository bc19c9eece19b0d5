// quenpix-decode --info: what a compressed file and its side file hold, without writing anything.
#include "driver/file_info.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <ostream>
#include <string>

#include "decoder/container_reader.hpp"
#include "decoder/png_decoder.hpp"
#include "decoder/side_file_reader.hpp"
#include "driver/decoder_limits.hpp"
#include "driver/input_file.hpp"
#include "format/side_file_name.hpp"
#include "image/bitmap_image.hpp"

namespace quenpix {

namespace {

constexpr const char* kChannelNames[] = {"blue", "green", "red"};

std::string TransformText(const ColourTransform& transform) {
    if (!transform.HasFirst()) return "none";
    const auto& slot = transform.slots;
    std::string text = std::string(kChannelNames[slot[0]]) + " - " + kChannelNames[slot[1]];
    if (transform.HasSecond()) {
        text += ", then " + std::string(kChannelNames[slot[2]]) + " - " + kChannelNames[slot[3]];
    }
    return text;
}

void Line(std::ostream& out, const char* label, const std::string& value) {
    out << label << value << "\n";
}

bool Exists(const std::string& name) {
    struct stat status {};
    return stat(name.c_str(), &status) == 0;
}

}  // namespace

int PrintFileInfo(const std::string& inputName, std::ostream& out, std::ostream& err) {
    const FileBytes file = ReadInputFile(inputName, "input file", kMaxCompressedFileBytes);
    Line(out, "file:              ", inputName + " (" + std::to_string(file.size) + " bytes)");
    ContainerContents contents;
    try {
        contents = ReadContainer(file.Bytes());
    } catch (const std::exception& e) {
        out << std::flush;
        err << e.what() << std::endl;
        return 1;
    }
    const uint64_t pixels = uint64_t{contents.width} * contents.height;
    Line(out, "image:             ",
         std::to_string(contents.width) + " x " + std::to_string(contents.height) + " pixels");
    Line(out, "colour transform:  ", TransformText(contents.transform));
    Line(out, "predictor:         ",
         contents.medResiduals ? "median edge detector" : "365-context model");
    Line(out, "IDAT chunks:       ", std::to_string(contents.imageChunkCount));

    const std::string sideName = SideFileName(inputName);
    if (!Exists(sideName)) {
        Line(out, "side file:         ", sideName + " is missing");
        Line(out, "checksums:         ", "chunk CRCs hold; the image needs the side file");
        out << std::flush;
        return 0;
    }
    const FileBytes side = ReadInputFile(sideName, "side file", kMaxSideFileBytes);
    Line(out, "side file:         ", sideName + " (" + std::to_string(side.size) + " bytes)");
    char bits[32];
    std::snprintf(bits, sizeof(bits), "%.3f",
                  8.0 * static_cast<double>(file.size + side.size) / static_cast<double>(pixels));
    Line(out, "bits per pixel:    ", std::string(bits) + " (both files)");
    try {
        Line(out, "colour boxes:      ", std::to_string(SideFileReader(side.Bytes()).BoxCount()));
        PngDecoder decoder;
        BitmapImage image;
        decoder.DecodeImage(file.Bytes(), side.Bytes(), image);
        const MatchCounters& matches = decoder.Matches();
        Line(out, "Huffman blocks:    ", std::to_string(decoder.BlockCount()));
        Line(out, "matches:           ",
             std::to_string(matches.Total()) + " (" + std::to_string(matches.Raw()) + " S + " +
                 std::to_string(matches.Vertical()) + " V + " +
                 std::to_string(matches.Horizontal()) + " G)");
        Line(out, "checksums:         ", "chunk CRCs, image checksum and side-file length hold");
    } catch (const std::exception& e) {
        Line(out, "checksums:         ", "FAILED");
        out << std::flush;
        err << e.what() << std::endl;
        return 1;
    }
    out << std::flush;
    return 0;
}

}  // namespace quenpix
