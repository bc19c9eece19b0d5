// The C interface: the files it returns, round trips, threads, cancellation, bad arguments and
// damaged data. The codec itself is tested elsewhere; here, what the interface adds.
#include "quenpix/quenpix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "decoded_image_support.hpp"
#include "quenpix/quenpix.hpp"
#include "test_support.hpp"

namespace quenpix {
namespace {

using Bytes = std::vector<uint8_t>;

// A test image as RGB rows, `pad` bytes after each row.
struct RgbImage {
    uint32_t width = 0;
    uint32_t height = 0;
    size_t stride = 0;
    Bytes pixels;

    [[nodiscard]] Bytes Packed() const {
        Bytes rows;
        for (uint32_t y = 0; y < height; ++y) {
            const auto row = pixels.begin() + static_cast<std::ptrdiff_t>(y * stride);
            rows.insert(rows.end(), row, row + 3 * width);
        }
        return rows;
    }
};

RgbImage LoadRgb(const std::string& name, size_t pad) {
    BitmapImage image;
    testing::LoadBmp(testing::ReadFileBytes(testing::DataPath("public/" + name + ".bmp")), image);
    RgbImage rgb{image.Width(), image.Height(), size_t{3} * image.Width() + pad, {}};
    rgb.pixels.assign(rgb.stride * rgb.height, 0xEE);
    for (uint32_t y = 0; y < rgb.height; ++y) {
        for (uint32_t x = 0; x < rgb.width; ++x) {
            for (uint32_t c = 0; c < 3; ++c)
                rgb.pixels[y * rgb.stride + 3 * x + c] = image.RowData(y)[3 * x + 2 - c];
        }
    }
    return rgb;
}

Bytes Expected(const std::string& name, const std::string& options, const char* extension) {
    return testing::ReadFileBytes(
        testing::DataPath("expected/" + name + "." + options + extension));
}

Bytes ToBytes(const Buffer& buffer) {
    return {buffer.data(), buffer.data() + buffer.size()};
}

TEST(CInterface, EncodesTheToolsFilesAndDecodesThemBack) {
    struct OptionSet {
        const char* name;
        int level;
        int planes;
        int replace;
    };
    const OptionSet sets[] = {{"default", 2, 1, 1}, {"F", 0, 1, 1}, {"M", 3, 1, 1},
                              {"P", 2, 0, 1},       {"R", 2, 1, 0}, {"PR", 2, 0, 0}};
    for (const char* name : {"p12_photo_64x64", "p11_screen_160x120", "p03_1x2"}) {
        const RgbImage image = LoadRgb(name, 5);
        for (const OptionSet& set : sets) {
            for (const int threads : {1, 3}) {
                quenpix_encode_options options = EncodeOptions();
                options.level = set.level;
                options.search_difference_planes = set.planes;
                options.replace_short_matches = set.replace;
                options.threads = threads;
                const EncodedImage encoded =
                    Encode(image.pixels.data(), image.width, image.height, image.stride, options);
                const std::string what = std::string(name) + " " + set.name;
                EXPECT_EQ(ToBytes(encoded.lsg), Expected(name, set.name, ".lsg")) << what;
                EXPECT_EQ(ToBytes(encoded.pls), Expected(name, set.name, ".pls")) << what;
            }
        }
        const DecodedImage decoded =
            Decode(Expected(name, "default", ".lsg"), Expected(name, "default", ".pls"), 2);
        EXPECT_EQ(decoded.width, image.width);
        EXPECT_EQ(ToBytes(decoded.rgb), image.Packed()) << name;
    }
}

TEST(CInterface, InfoAndVerifyReportWhatTheEncoderWrote) {
    const RgbImage image = LoadRgb("p19_window_182x182", 0);
    const EncodedImage encoded =
        Encode(image.pixels.data(), image.width, image.height, image.stride);
    const quenpix_info info = ReadInfo(encoded.lsg.bytes());
    EXPECT_EQ(info.width, 182u);
    EXPECT_EQ(info.height, 182u);
    EXPECT_GE(info.idat_chunks, 1u);

    quenpix_stream_info stream{};
    ASSERT_EQ(quenpix_verify(encoded.lsg.data(), encoded.lsg.size(), encoded.pls.data(),
                             encoded.pls.size(), nullptr, &stream),
              QUENPIX_OK);
    EXPECT_EQ(stream.matches.raw, encoded.matches.raw);
    EXPECT_EQ(stream.matches.vertical, encoded.matches.vertical);
    EXPECT_EQ(stream.matches.horizontal, encoded.matches.horizontal);
    EXPECT_GE(stream.huffman_blocks, 1u);
    // The side file's second and third bytes hold the box count.
    EXPECT_EQ(stream.colour_boxes, encoded.pls.data()[1] | encoded.pls.data()[2] << 8);
}

TEST(CInterface, ThreadsEncodeAndDecodeAtOnceWithTheSameResults) {
    const char* names[] = {"p12_photo_64x64", "p18_photo_181x181", "p11_screen_160x120",
                           "p07_noise_64x64"};
    std::vector<RgbImage> images;
    std::vector<EncodedImage> alone;
    for (const char* name : names) {
        images.push_back(LoadRgb(name, 0));
        alone.push_back(Encode(images.back().pixels.data(), images.back().width,
                               images.back().height, images.back().stride));
    }
    std::vector<std::string> faults(images.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < images.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round) {
                const RgbImage& image = images[i];
                const EncodedImage encoded =
                    Encode(image.pixels.data(), image.width, image.height, image.stride);
                if (ToBytes(encoded.lsg) != ToBytes(alone[i].lsg)) faults[i] = "lsg differs";
                const DecodedImage decoded = Decode(encoded.lsg.bytes(), encoded.pls.bytes());
                if (ToBytes(decoded.rgb) != image.Packed()) faults[i] = "pixels differ";
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (size_t i = 0; i < images.size(); ++i)
        EXPECT_EQ(faults[i], "") << names[i];
}

TEST(CInterface, ProgressSeesOrderedPercentagesAndCanCancel) {
    struct Log {
        std::vector<int> percents;
        int cancelAt = 101;
    };
    const auto record = [](void* user, int percent) {
        auto& log = *static_cast<Log*>(user);
        log.percents.push_back(percent);
        return percent >= log.cancelAt ? 1 : 0;
    };
    const RgbImage image = LoadRgb("p20_photo_300x240", 0);
    Log full;
    quenpix_encode_options options = EncodeOptions();
    options.progress = record;
    options.user = &full;
    EXPECT_NO_THROW(
        (void)Encode(image.pixels.data(), image.width, image.height, image.stride, options));
    ASSERT_FALSE(full.percents.empty());
    EXPECT_TRUE(std::is_sorted(full.percents.begin(), full.percents.end()));
    EXPECT_EQ(full.percents.back(), 100);

    Log cancelled;
    cancelled.cancelAt = 1;
    options.user = &cancelled;
    uint8_t* lsg = reinterpret_cast<uint8_t*>(1);
    uint8_t* pls = reinterpret_cast<uint8_t*>(1);
    size_t lsgSize = 1;
    size_t plsSize = 1;
    EXPECT_EQ(quenpix_encode_rgb(image.pixels.data(), image.width, image.height, image.stride,
                                 &options, &lsg, &lsgSize, &pls, &plsSize),
              QUENPIX_CANCELLED);
    EXPECT_EQ(lsg, nullptr);
    EXPECT_EQ(pls, nullptr);
    EXPECT_EQ(lsgSize + plsSize, 0u);
    EXPECT_EQ(std::count_if(cancelled.percents.begin(), cancelled.percents.end(),
                            [](int percent) { return percent >= 1; }),
              1)
        << "no call after the cancel";
}

TEST(CInterface, BadArgumentsGetAStatusNeverACrash) {
    const Bytes pixels(64 * 3, 7);
    uint8_t* lsg = nullptr;
    uint8_t* pls = nullptr;
    size_t lsgSize = 0;
    size_t plsSize = 0;
    const auto encode = [&](const uint8_t* rgb, uint32_t w, uint32_t h, size_t stride,
                            const quenpix_encode_options* options = nullptr) {
        return quenpix_encode_rgb(rgb, w, h, stride, options, &lsg, &lsgSize, &pls, &plsSize);
    };
    EXPECT_EQ(encode(nullptr, 8, 8, 24), QUENPIX_INVALID_ARGUMENT);
    EXPECT_EQ(encode(pixels.data(), 0, 8, 24), QUENPIX_INVALID_ARGUMENT);
    EXPECT_EQ(encode(pixels.data(), 8, 0, 24), QUENPIX_INVALID_ARGUMENT);
    EXPECT_EQ(encode(pixels.data(), 8, 8, 23), QUENPIX_INVALID_ARGUMENT);
    EXPECT_EQ(encode(pixels.data(), 8, 3, std::numeric_limits<size_t>::max() / 2),
              QUENPIX_INVALID_ARGUMENT);
    EXPECT_EQ(encode(pixels.data(), 1u << 20, 1u << 20, size_t{3} << 20), QUENPIX_IMAGE_TOO_LARGE);
    EXPECT_EQ(
        quenpix_encode_rgb(pixels.data(), 8, 8, 24, nullptr, nullptr, &lsgSize, &pls, &plsSize),
        QUENPIX_INVALID_ARGUMENT);
    char message[64] = {};
    for (const auto& [level, threads] : {std::pair{4, 0}, std::pair{-1, 0}, std::pair{2, -1}}) {
        quenpix_encode_options options = EncodeOptions();
        options.level = level;
        options.threads = threads;
        options.message = message;
        options.message_size = sizeof(message);
        EXPECT_EQ(encode(pixels.data(), 8, 8, 24, &options), QUENPIX_INVALID_ARGUMENT);
        EXPECT_GT(std::strlen(message), 0u);
    }
    EXPECT_EQ(lsg, nullptr);

    uint8_t* rgb = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    EXPECT_EQ(quenpix_decode_rgb(nullptr, 10, nullptr, 0, &rgb, &width, &height),
              QUENPIX_INVALID_ARGUMENT);
    EXPECT_EQ(quenpix_decode_rgb(pixels.data(), 10, pixels.data(), 10, nullptr, &width, &height),
              QUENPIX_INVALID_ARGUMENT);
    EXPECT_EQ(quenpix_read_info(pixels.data(), 10, nullptr), QUENPIX_INVALID_ARGUMENT);
    quenpix_free(nullptr);
    for (int status = 0; status <= 7; ++status)
        EXPECT_NE(quenpix_status_message(static_cast<quenpix_status>(status)), nullptr);
    EXPECT_STREQ(quenpix_version(), QUENPIX_VERSION);
}

TEST(CInterface, DamagedOrMismatchedFilesGetTheDecodersStatusAndMessage) {
    const Bytes lsg = Expected("p12_photo_64x64", "default", ".lsg");
    const Bytes pls = Expected("p12_photo_64x64", "default", ".pls");
    Bytes flipped = lsg;
    flipped[flipped.size() / 2] ^= 0x40;
    const Bytes truncated(lsg.begin(), lsg.begin() + static_cast<std::ptrdiff_t>(lsg.size() / 2));
    const Bytes otherSide = Expected("p13_photo_128x96", "default", ".pls");
    const struct {
        const Bytes& lsg;
        const Bytes& pls;
        const char* what;
    } cases[] = {{flipped, pls, "a flipped bit"},
                 {truncated, pls, "half a file"},
                 {lsg, otherSide, "another image's side file"},
                 {pls, lsg, "the files swapped"}};
    for (const auto& c : cases) {
        try {
            (void)Decode(c.lsg, c.pls, 1);
            ADD_FAILURE() << c.what << " decoded";
        } catch (const Error& e) {
            EXPECT_EQ(e.Status(), QUENPIX_CORRUPT_DATA) << c.what;
            EXPECT_GT(std::strlen(e.what()), 0u) << c.what;
        }
    }
    quenpix_info info{};
    EXPECT_EQ(quenpix_read_info(truncated.data(), truncated.size(), &info), QUENPIX_CORRUPT_DATA);
}

}  // namespace
}  // namespace quenpix
