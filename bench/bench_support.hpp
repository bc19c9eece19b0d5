// Helpers shared by the benchmarks: locating and loading the benchmark images.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "image/bitmap_image.hpp"

namespace quenpix::bench {

// Path of a benchmark image: $QUENPIX_BENCH_IMAGES/name, else the shared corpus folder.
[[nodiscard]] std::string ImagePath(const std::string& name);
// Loads a BMP; returns null (and the benchmark should SkipWithError) when it is missing.
[[nodiscard]] std::unique_ptr<BitmapImage> LoadImage(const std::string& name);
// The raw plane as the encoder builds it: top row first, red, green, blue, then `tail` zeros.
[[nodiscard]] std::vector<uint8_t> RawPlane(const BitmapImage& image, size_t tail = 0);
// Reports the image's megapixels per second of iteration time as the counter "MP/s".
void ReportPixelRate(benchmark::State& state, const BitmapImage& image);

}  // namespace quenpix::bench
