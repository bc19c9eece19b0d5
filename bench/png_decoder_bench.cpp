// Benchmarks of encoding and decoding the real photograph at the default settings.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.hpp"
#include "decoder/png_decoder.hpp"
#include "encoder/png_encoder.hpp"

namespace quenpix {
namespace {

constexpr const char* kPhotograph = "flower_2268x1512.bmp";
constexpr const char* kScreen = "screen_1920x1080.bmp";

using bench::ReportPixelRate;

struct Encoded {
    std::string file;
    std::vector<uint8_t> side;
};

// Encodes a copy, since the encoder applies the colour transform to the image it is given.
Encoded Encode(const BitmapImage& original) {
    BitmapImage image;
    image.SetSize(0, 24, original.Width(), original.Height());
    std::memcpy(image.ImageData(), original.ImageData(),
                size_t{original.BytesPerRow()} * original.Height());
    PngEncoder encoder;
    std::ostringstream out(std::ios::binary);
    encoder.WriteImage(out, image);
    const auto side = encoder.SideFile().Contents();
    return {out.str(), {side.begin(), side.end()}};
}

void BM_EncodeDefault(benchmark::State& state) {
    const std::unique_ptr<BitmapImage> image = bench::LoadImage(kPhotograph);
    if (image == nullptr) {
        state.SkipWithError("benchmark image not found");
        return;
    }
    for (auto _ : state) {
        const Encoded encoded = Encode(*image);
        benchmark::DoNotOptimize(encoded.file.data());
    }
    ReportPixelRate(state, *image);
}

// Decodes the photograph (context model) or the screen image (median predictor), encoded at
// the default level, with the thread count given as the argument.
void Decode(benchmark::State& state, const char* name) {
    const std::unique_ptr<BitmapImage> image = bench::LoadImage(name);
    if (image == nullptr) {
        state.SkipWithError("benchmark image not found");
        return;
    }
    const Encoded encoded = Encode(*image);
    const std::span file(reinterpret_cast<const uint8_t*>(encoded.file.data()),
                         encoded.file.size());
    for (auto _ : state) {
        BitmapImage decoded;
        PngDecoder decoder;
        decoder.SetThreadCount(static_cast<uint32_t>(state.range(0)));
        decoder.DecodeImage(file, encoded.side, decoded);
        benchmark::DoNotOptimize(decoded.ImageData());
    }
    ReportPixelRate(state, *image);
}

void BM_DecodePhotograph(benchmark::State& state) {
    Decode(state, kPhotograph);
}

void BM_DecodeScreen(benchmark::State& state) {
    Decode(state, kScreen);
}

BENCHMARK(BM_EncodeDefault)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePhotograph)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeScreen)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quenpix
