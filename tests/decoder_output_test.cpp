// quenpix-decode's images in the formats viewers open, --info, and the hint at a foreign side
// file. Every format is read back and compared with the original's pixels.
#include <png.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "command_support.hpp"
#include "decoded_image_support.hpp"
#include "driver/decoder_command.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

testing::CommandResult Decode(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "quenpix-decode");
    return testing::RunCommand(RunDecoderCommand, arguments);
}

// The original's pixels, red, green, blue, rows top down.
Bytes OriginalRgb(uint32_t& width, uint32_t& height) {
    BitmapImage image;
    testing::LoadBmp(testing::ReadFileBytes(testing::DataPath("public/p13_photo_128x96.bmp")),
                     image);
    width = image.Width();
    height = image.Height();
    Bytes rgb;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x)
            rgb.insert(rgb.end(), {image.RowData(y)[3 * x + 2], image.RowData(y)[3 * x + 1],
                                   image.RowData(y)[3 * x]});
    }
    return rgb;
}

// Each reader gives red, green, blue, rows top down.
Bytes FromBmp(const Bytes& file) {
    BitmapImage image;
    testing::LoadBmp(file, image);
    Bytes rgb;
    for (uint32_t y = 0; y < image.Height(); ++y) {
        for (uint32_t x = 0; x < image.Width(); ++x)
            rgb.insert(rgb.end(), {image.RowData(y)[3 * x + 2], image.RowData(y)[3 * x + 1],
                                   image.RowData(y)[3 * x]});
    }
    return rgb;
}

Bytes FromPpm(const Bytes& file, uint32_t width, uint32_t height) {
    const std::string header =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    if (file.size() < header.size() ||
        std::string(file.begin(), file.begin() + static_cast<long>(header.size())) != header) {
        return {};
    }
    return Bytes(file.begin() + static_cast<long>(header.size()), file.end());
}

Bytes FromPng(const Bytes& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) return {};
    image.format = PNG_FORMAT_RGB;
    Bytes rgb(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) return {};
    return rgb;
}

class DecoderOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testing::MakeTempDir("decode-output");
        input_ = dir_ + "/photo.lsg";
        fs::copy_file(testing::DataPath("expected/p13_photo_128x96.default.lsg"), input_);
        fs::copy_file(testing::DataPath("expected/p13_photo_128x96.default.pls"),
                      dir_ + "/photo.pls");
        original_ = OriginalRgb(width_, height_);
    }

    std::string dir_;
    std::string input_;
    Bytes original_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

TEST_F(DecoderOutput, EveryFormatToAFileAndToStandardOutputHasTheOriginalPixels) {
    struct Case {
        std::vector<std::string> arguments;
        std::string file;  // empty: standard output
        char kind;         // b, p (PNG) or m (PPM)
    };
    const std::string d = dir_ + "/";
    const Case cases[] = {
        {{input_, d + "a.bmp"}, d + "a.bmp", 'b'},
        {{input_, d + "a.png"}, d + "a.png", 'p'},
        {{input_, d + "a.PPM"}, d + "a.PPM", 'm'},
        {{input_, d + "a.pnm"}, d + "a.pnm", 'm'},
        {{"--format", "png", input_}, d + "photo.png", 'p'},
        {{"--format=ppm", input_, d + "named.bmp"}, d + "named.bmp", 'm'},
        {{input_, "-"}, "", 'b'},
        {{"--format", "png", input_, "-"}, "", 'p'},
        {{"--format", "ppm", input_, "-"}, "", 'm'},
    };
    for (const Case& c : cases) {
        const testing::CommandResult run = Decode(c.arguments);
        const std::string what = c.arguments.back() + " as " + c.kind;
        ASSERT_EQ(run.status, 0) << what << ": " << run.err;
        const Bytes file =
            c.file.empty() ? Bytes(run.out.begin(), run.out.end()) : testing::ReadFileBytes(c.file);
        const Bytes pixels = c.kind == 'b'   ? FromBmp(file)
                             : c.kind == 'p' ? FromPng(file)
                                             : FromPpm(file, width_, height_);
        EXPECT_EQ(pixels, original_) << what;
    }
}

TEST_F(DecoderOutput, InfoDescribesTheFilesAndReportsDamage) {
    const testing::CommandResult good = Decode({"--info", input_});
    EXPECT_EQ(good.status, 0) << good.err;
    for (const char* line : {"image:             128 x 96 pixels\n", "IDAT chunks:       2\n",
                             "checksums:         chunk CRCs, image checksum and side-file "
                             "length hold\n",
                             "predictor:         "}) {
        EXPECT_NE(good.out.find(line), std::string::npos) << line << "in\n" << good.out;
    }
    for (const char* label : {"colour transform:", "Huffman blocks:", "matches:", "colour boxes:",
                              "bits per pixel:", "side file:"}) {
        EXPECT_NE(good.out.find(label), std::string::npos) << label;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2)
        << "nothing written";

    Bytes damaged = testing::ReadFileBytes(input_);
    damaged[damaged.size() - 20] ^= 1;  // inside the last IDAT chunk
    testing::WriteFileBytes(input_, damaged);
    const testing::CommandResult bad = Decode({"--info", input_});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "CRC mismatch in chunk IDAT\n");
    EXPECT_NE(bad.out.find("file:"), std::string::npos) << "what could be read is shown";
}

TEST_F(DecoderOutput, AForeignSideFileIsNamedAsTheLikelyCause) {
    fs::copy_file(testing::DataPath("expected/p13_photo_128x96.F.pls"), dir_ + "/photo.pls",
                  fs::copy_options::overwrite_existing);
    const testing::CommandResult run = Decode({"-t", input_});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Image checksum (Adler-32) mismatch; the side file " + dir_ +
                           "/photo.pls may belong to another image\n");
}

}  // namespace
}  // namespace quenpix
