// Benchmarks of the residual plane and the colour transform on the real photograph.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/bench_support.hpp"
#include "encoder/colour_transform_selection.hpp"
#include "encoder/residual_plane.hpp"

namespace quenpix {
namespace {

constexpr const char* kPhotograph = "flower_2268x1512.bmp";

using bench::RawPlane;
using bench::ReportPixelRate;

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
