// Benchmarks of the residual plane and the colour transform on the real photograph.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_support.hpp"
#include "encoder/colour_transform.hpp"
#include "encoder/residual_plane.hpp"

namespace quenpix {
namespace {

constexpr const char* kPhotograph = "flower_2268x1512.bmp";

// The raw plane as the encoder builds it: top row first, red, green, blue.
std::vector<uint8_t> RawPlane(const BitmapImage& image) {
    const size_t rowBytes = 3 * static_cast<size_t>(image.Width());
    std::vector<uint8_t> raw(rowBytes * image.Height());
    for (uint32_t r = 0; r < image.Height(); ++r) {
        const uint8_t* row = image.RowData(r);
        uint8_t* out = raw.data() + r * rowBytes;
        for (size_t p = 0; p < rowBytes; p += 3) {
            out[p] = row[p + 2];
            out[p + 1] = row[p + 1];
            out[p + 2] = row[p];
        }
    }
    return raw;
}

void ReportPixelRate(benchmark::State& state, const BitmapImage& image) {
    const double megapixels = static_cast<double>(image.Width()) * image.Height() / 1e6;
    state.counters["MP/s"] =
        benchmark::Counter(megapixels, benchmark::Counter::kIsIterationInvariantRate);
}

using PlaneBuilder = void (*)(std::span<const uint8_t>, uint32_t, uint32_t, std::span<uint8_t>);

template <PlaneBuilder Build>
void BM_Residuals(benchmark::State& state) {
    const std::unique_ptr<BitmapImage> image = bench::LoadImage(kPhotograph);
    if (image == nullptr) {
        state.SkipWithError("benchmark image not found");
        return;
    }
    const std::vector<uint8_t> raw = RawPlane(*image);
    std::vector<uint8_t> residual(raw.size());
    for (auto _ : state) {
        Build(raw, 3 * image->Width(), image->Height(), residual);
        benchmark::DoNotOptimize(residual.data());
        benchmark::ClobberMemory();
    }
    ReportPixelRate(state, *image);
}

void BuildWhole(std::span<const uint8_t> raw, uint32_t rowBytes, uint32_t rows,
                std::span<uint8_t> residual) {
    benchmark::DoNotOptimize(BuildResidualPlane(raw, rowBytes, rows, residual));
}

void BM_SelectColourTransform(benchmark::State& state) {
    const std::unique_ptr<BitmapImage> image = bench::LoadImage(kPhotograph);
    if (image == nullptr) {
        state.SkipWithError("benchmark image not found");
        return;
    }
    const size_t imageBytes = static_cast<size_t>(image->BytesPerRow()) * image->Height();
    const std::vector<uint8_t> original(image->ImageData(), image->ImageData() + imageBytes);
    std::vector<uint8_t> scratch(3 * static_cast<size_t>(image->Width()) * image->Height());
    for (auto _ : state) {
        benchmark::DoNotOptimize(SelectColourTransform(*image, scratch));
        state.PauseTiming();
        std::memcpy(image->ImageData(), original.data(), imageBytes);
        state.ResumeTiming();
    }
    ReportPixelRate(state, *image);
}

BENCHMARK(BM_Residuals<BuildWhole>)->Name("BM_ResidualPlane")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Residuals<BuildContextResiduals>)
    ->Name("BM_ContextResiduals")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Residuals<BuildMedResiduals>)->Name("BM_MedResiduals")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectColourTransform)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenpix
