// Helpers shared by the benchmarks: locating and loading the benchmark images.
#pragma once

#include <memory>
#include <string>

#include "image/bitmap_image.hpp"

namespace quenpix::bench {

// Path of a benchmark image: $QUENPIX_BENCH_IMAGES/name, else the shared corpus folder.
[[nodiscard]] std::string ImagePath(const std::string& name);
// Loads a BMP; returns null (and the benchmark should SkipWithError) when it is missing.
[[nodiscard]] std::unique_ptr<BitmapImage> LoadImage(const std::string& name);

}  // namespace quenpix::bench
