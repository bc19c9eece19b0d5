// The encoder object: its settings, that one object encodes any number of images, and that its
// progress reports do not depend on the thread count.
#include "encoder/png_encoder.hpp"

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "image/bitmap_image.hpp"
#include "image/bmp_decoder.hpp"
#include "image/exceptions.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

void Load(const std::string& name, BitmapImage& image) {
    std::ifstream in(testing::DataPath("public/" + name + ".bmp"), std::ios::binary);
    BmpDecoder().ReadImage(in, image);
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(PngEncoder, InvalidLevelIsRefusedAndTheLevelKept) {
    PngEncoder encoder;
    encoder.SetCompressionLevel(3);
    for (const int32_t level : {4, -1}) {
        try {
            encoder.SetCompressionLevel(level);
            FAIL() << "level " << level << " accepted";
        } catch (const EPngError& e) {
            EXPECT_STREQ(e.what(), "Invalid Compression Level");
        }
    }
    EXPECT_EQ(encoder.CompressionLevel(), 3);
}

TEST(PngEncoder, OneEncoderGivesEveryImageWhatAFreshEncoderWould) {
    // The reference outputs come from one run per image; here one object encodes them in turn,
    // so no state may carry over from an image to the next.
    PngEncoder encoder;
    const std::vector<std::pair<std::string, uint32_t>> images = {{"p13_photo_128x96", 37},
                                                                  {"p08_flat_64x64", 48},
                                                                  {"p09_grey_64x64", 163},
                                                                  {"p03_1x2", 0},
                                                                  {"p11_screen_160x120", 894}};
    for (const auto& [name, matches] : images) {
        BitmapImage image;
        Load(name, image);
        std::ostringstream out;
        encoder.WriteImage(out, image);
        EXPECT_EQ(Bytes(out.str()),
                  testing::ReadFileBytes(testing::DataPath("expected/" + name + ".default.lsg")))
            << name;
        const auto side = encoder.SideFile().Contents();
        EXPECT_EQ(std::vector<uint8_t>(side.begin(), side.end()),
                  testing::ReadFileBytes(testing::DataPath("expected/" + name + ".default.pls")))
            << name;
        EXPECT_EQ(encoder.Counters().Total(), matches) << name;
    }
}

// What the progress function saw: each percentage and whether it came on the calling thread.
struct ProgressLog {
    std::thread::id caller = std::this_thread::get_id();
    std::vector<uint32_t> percents;
    bool allOnCaller = true;
};

void LogProgress(BitmapImageCoder&, void* data, uint32_t, uint32_t, uint32_t percent, bool&) {
    auto& log = *static_cast<ProgressLog*>(data);
    log.percents.push_back(percent);
    log.allOnCaller = log.allOnCaller && std::this_thread::get_id() == log.caller;
}

TEST(PngEncoder, ProgressComesInTheSameOrderFromTheCallingThreadAtAnyThreadCount) {
    std::vector<uint32_t> single;
    for (const uint32_t threads : {1u, 4u}) {
        BitmapImage image;
        Load("p20_photo_300x240", image);
        PngEncoder encoder;
        encoder.SetThreadCount(threads);
        encoder.SetSearchStretch(5000);
        ProgressLog log;
        encoder.SetProgressFunction(LogProgress, &log);
        std::ostringstream out;
        encoder.WriteImage(out, image);
        EXPECT_TRUE(log.allOnCaller) << threads << " threads";
        EXPECT_FALSE(log.percents.empty());
        if (threads == 1) single = log.percents;
        EXPECT_EQ(log.percents, single) << threads << " threads";
    }
}

TEST(PngEncoder, ImagesItCannotHoldAreRefusedBeforeWriting) {
    PngEncoder encoder;
    BitmapImage empty;
    empty.SetSize(0, 24, 0, 7);
    std::ostringstream out;
    try {
        encoder.WriteImage(out, empty);
        FAIL() << "empty image accepted";
    } catch (const EGraphicsException& e) {
        EXPECT_STREQ(e.what(), "Image has no pixels");
    }
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace quenpix
