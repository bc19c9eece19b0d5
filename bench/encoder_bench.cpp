// Benchmarks of the match search and of the whole encoder, at every level and at several thread
// counts, on a photograph and a screen-like image.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>
#include <vector>

#include "bench/bench_support.hpp"
#include "encoder/png_encoder.hpp"
#include "stream/match_finder.hpp"

namespace quenpix {
namespace {

constexpr const char* kImages[] = {"flower_2268x1512.bmp", "screen_1920x1080.bmp"};
constexpr uint32_t kChainLengths[] = {0, 64, 128, kUnboundedChain};

// Discards what is written, so that the file system stays out of the measurement.
class NullBuffer final : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Args: image index, compression level.
void BM_FindMatches(benchmark::State& state) {
    const std::unique_ptr<BitmapImage> image = bench::LoadImage(kImages[state.range(0)]);
    if (image == nullptr) {
        state.SkipWithError("benchmark image not found");
        return;
    }
    const std::vector<uint8_t> raw = bench::RawPlane(*image, kPlaneTail);
    const uint32_t rowBytes = 3 * image->Width();
    const uint32_t total = rowBytes * image->Height();
    std::vector<uint8_t> vertical(raw.size(), 0);
    std::vector<uint8_t> horizontal(raw.size(), 0);
    for (uint32_t k = 0; k < total; ++k) {
        vertical[k] = static_cast<uint8_t>(k < rowBytes ? raw[k] : raw[k] - raw[k - rowBytes]);
        horizontal[k] = static_cast<uint8_t>(k < 3 ? raw[k] : raw[k] - raw[k - 3]);
    }
    std::vector<uint16_t> tokens(2 * size_t{total / 3});
    const MatchSettings settings{kChainLengths[state.range(1)], true, true, true};
    for (auto _ : state) {
        MatchFinder finder({raw.data(), vertical.data(), horizontal.data(), total}, settings);
        benchmark::DoNotOptimize(finder.FindMatches(tokens));
    }
    bench::ReportPixelRate(state, *image);
}
BENCHMARK(BM_FindMatches)
    ->ArgsProduct({{0, 1}, {1, 2, 3}})
    ->ArgNames({"image", "level"})
    ->Unit(benchmark::kMillisecond);

// The whole of WriteImage, from the decoded bitmap to the last chunk, on image range(0).
void EncodeRepeatedly(benchmark::State& state, int32_t level, uint32_t threads) {
    const std::unique_ptr<BitmapImage> image = bench::LoadImage(kImages[state.range(0)]);
    if (image == nullptr) {
        state.SkipWithError("benchmark image not found");
        return;
    }
    const size_t bytes = size_t{image->BytesPerRow()} * image->Height();
    const std::vector<uint8_t> original(image->ImageData(), image->ImageData() + bytes);
    NullBuffer sink;
    std::ostream out(&sink);
    for (auto _ : state) {
        // The colour transform changes the image; every run starts from the original.
        state.PauseTiming();
        std::memcpy(image->ImageData(), original.data(), bytes);
        state.ResumeTiming();
        PngEncoder encoder;
        encoder.SetCompressionLevel(level);
        encoder.SetThreadCount(threads);
        encoder.WriteImage(out, *image);
        benchmark::DoNotOptimize(encoder.Counters().Total());
    }
    bench::ReportPixelRate(state, *image);
}

// Args: image index, compression level; one thread.
void BM_WriteImage(benchmark::State& state) {
    EncodeRepeatedly(state, static_cast<int32_t>(state.range(1)), 1);
}
BENCHMARK(BM_WriteImage)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3}})
    ->ArgNames({"image", "level"})
    ->Unit(benchmark::kMillisecond);

// Args: image index, threads; the default level. Wall time gives the speed-up over one thread,
// the process's CPU time (every thread's) the work that sharing adds.
void BM_WriteImageThreads(benchmark::State& state) {
    EncodeRepeatedly(state, kDefaultCompressionLevel, static_cast<uint32_t>(state.range(1)));
}
BENCHMARK(BM_WriteImageThreads)
    ->ArgsProduct({{0, 1}, {1, 2, 4, 8}})
    ->ArgNames({"image", "threads"})
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenpix
