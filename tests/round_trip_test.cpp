// Round trips: images encoded in-process under every option set decode to exactly their pixels.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "decoded_image_support.hpp"
#include "decoder/png_decoder.hpp"
#include "encoder/png_encoder.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

struct OptionSet {
    const char* name;
    int32_t level;
    bool differencePlanes;
    bool replaceShortMatches;
};

// none, -F, -M, -P, -R, -P -R, -F -R
constexpr std::array<OptionSet, 7> kOptionSets = {{{"none", 2, true, true},
                                                   {"-F", 0, true, true},
                                                   {"-M", 3, true, true},
                                                   {"-P", 2, false, true},
                                                   {"-R", 2, true, false},
                                                   {"-P -R", 2, false, false},
                                                   {"-F -R", 0, true, false}}};

void CountCall(BitmapImageCoder&, void* data, uint32_t, uint32_t, uint32_t, bool&) {
    ++*static_cast<uint32_t*>(data);
}

struct RoundTripResult {
    std::string difference;  // "" when the pixels came back exactly
    uint32_t blocks = 0;
    bool contextModel = false;  // the encoder chose the context model's residuals
};

// Decodes the encoder's output at the given thread count and checks the pixels, the match
// counts and the progress reports.
RoundTripResult DecodeAndCheck(const BitmapImage& original, const OptionSet& options,
                               const PngEncoder& encoder, std::span<const uint8_t> file,
                               std::span<const uint8_t> side, uint32_t threads) {
    BitmapImage decoded;
    PngDecoder decoder;
    decoder.SetThreadCount(threads);
    uint32_t progressCalls = 0;
    decoder.SetProgressFunction(CountCall, &progressCalls);
    try {
        decoder.DecodeImage(file, side, decoded);
    } catch (const std::exception& e) {
        return {std::string("decoding failed: ") + e.what()};
    }
    // The report's counts are the matches the stream carries; without replacement they are
    // every match the search found, and with it never more.
    const MatchCounters& counted = encoder.Counters();
    const MatchCounters& carried = decoder.Matches();
    const MatchCounters& found = encoder.FoundMatches();
    if (counted.byPlane != carried.byPlane) {
        return {"the match counters differ from the matches in the stream"};
    }
    for (uint32_t plane = 0; plane < 3; ++plane) {
        const uint32_t count = counted.byPlane[plane];
        const uint32_t inList = found.byPlane[plane];
        if (options.replaceShortMatches ? count > inList : count != inList) {
            return {"the match counters do not fit the matches found"};
        }
    }
    if (!options.differencePlanes && (found.Vertical() != 0 || found.Horizontal() != 0)) {
        return {"difference-plane matches without difference planes"};
    }
    if (decoder.BlockCount() != progressCalls - 1) return {"one progress report per block"};
    // One report before the first block and one after each block.
    return {testing::FirstPixelDifference(original, decoded), progressCalls - 1};
}

RoundTripResult RoundTrip(const BitmapImage& original, const OptionSet& options) {
    BitmapImage image;
    testing::CopyImage(original, image);
    PngEncoder encoder;
    encoder.SetCompressionLevel(options.level);
    if (!options.differencePlanes) {
        encoder.DisableVerticalPlane();
        encoder.DisableHorizontalPlane();
    }
    encoder.SetReplaceShortMatches(options.replaceShortMatches);
    std::ostringstream out(std::ios::binary);
    encoder.WriteImage(out, image);
    const std::string file = out.str();
    const auto side = encoder.SideFile().Contents();

    // Decoded with the caller's thread alone, with the two stages on two threads, and with more
    // threads than stages: the same pixels every time.
    RoundTripResult result;
    const bool contextModel = file.find("ncPr") == std::string::npos;
    for (const uint32_t threads : {1u, 2u, 4u}) {
        result = DecodeAndCheck(
            original, options, encoder,
            std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()), side, threads);
        if (!result.difference.empty()) {
            result.difference += " (" + std::to_string(threads) + " threads)";
            break;
        }
    }
    result.contextModel = contextModel;
    return result;
}

void MakeImage(uint32_t width, uint32_t height,
               const std::function<testing::Rgb(uint32_t, uint32_t)>& pixel, BitmapImage& image) {
    image.SetSize(0, 24, width, height);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = image.RowData(y);
        for (uint32_t x = 0; x < width; ++x) {
            const testing::Rgb c = pixel(x, y);
            row[3 * x] = c.blue;
            row[3 * x + 1] = c.green;
            row[3 * x + 2] = c.red;
        }
    }
}

uint8_t Noise(uint32_t a, uint32_t b) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    return static_cast<uint8_t>(h >> 13);
}

TEST(RoundTrip, EveryPublicTrueColourImageUnderEveryOptionSet) {
    int images = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testing::DataPath("public"))) {
        if (entry.path().extension() != ".bmp") continue;
        BitmapImage original;
        testing::LoadBmp(testing::ReadFileBytes(entry.path().string()), original);
        if (original.BitCount() != 24) continue;
        ++images;
        for (const OptionSet& options : kOptionSets) {
            EXPECT_EQ(RoundTrip(original, options).difference, "")
                << entry.path().filename().string() << " with " << options.name;
        }
    }
    EXPECT_GE(images, 20);
}

TEST(RoundTrip, SyntheticShapesUnderEveryOptionSet) {
    struct Shape {
        const char* name;
        uint32_t width;
        uint32_t height;
        std::function<testing::Rgb(uint32_t, uint32_t)> pixel;
        uint32_t minBlocks;
    };
    const std::vector<Shape> shapes = {
        {"one pixel wide", 1, 300,
         [](uint32_t, uint32_t y) {
             return testing::Rgb{static_cast<uint8_t>(y), Noise(y / 8, 1), 40};
         },
         1},
        {"one row", 500, 1,
         [](uint32_t x, uint32_t) {
             return testing::Rgb{static_cast<uint8_t>(x % 7 * 30), Noise(x / 4, 2),
                                 static_cast<uint8_t>(x)};
         },
         1},
        // Rows repeat every 127 rows (32512 pixels back, near the window's end) over gradients
        // that the difference planes match.
        {"more than 32768 pixels", 256, 160,
         [](uint32_t x, uint32_t y) {
             const uint32_t r = y % 127;
             return testing::Rgb{static_cast<uint8_t>(x + 3 * r),
                                 static_cast<uint8_t>(x < 128 ? 2 * r : Noise(x / 3, r)),
                                 static_cast<uint8_t>(Noise(x / 16, r) & 0x1F)};
         },
         1},
        // Mostly noise, so more than 65535 tokens and several blocks under every option set.
        {"more than 65535 tokens", 320, 240,
         [](uint32_t x, uint32_t y) {
             const uint32_t k = (x % 50 < 5) ? x % 5 : x;
             return testing::Rgb{Noise(k, y), Noise(k, y + 1000), Noise(k + 7, y)};
         },
         2},
    };
    for (const Shape& shape : shapes) {
        BitmapImage original;
        MakeImage(shape.width, shape.height, shape.pixel, original);
        for (const OptionSet& options : kOptionSets) {
            const RoundTripResult result = RoundTrip(original, options);
            EXPECT_EQ(result.difference, "") << shape.name << " with " << options.name;
            EXPECT_GE(result.blocks, shape.minBlocks) << shape.name << " with " << options.name;
        }
    }
}

TEST(RoundTrip, RowsLongerThanATokenChunkUnderTheContextModel) {
    // Two threads hand rows over per token chunk; here most chunks finish no row at all.
    BitmapImage original;
    MakeImage(
        300000, 2,
        [](uint32_t x, uint32_t y) {
            const uint32_t t = (x / 2 + 40 * y) % 512;
            const auto wave = static_cast<uint8_t>(t < 256 ? t : 511 - t);
            return testing::Rgb{static_cast<uint8_t>(wave + Noise(x, y) % 13),
                                static_cast<uint8_t>(wave / 2 + Noise(x, y + 9) % 11),
                                static_cast<uint8_t>(255 - wave + Noise(x + 5, y) % 9)};
        },
        original);
    const RoundTripResult result = RoundTrip(original, kOptionSets[0]);
    EXPECT_EQ(result.difference, "");
    EXPECT_TRUE(result.contextModel) << "the image is meant for the context model";
}

}  // namespace
}  // namespace quenpix
