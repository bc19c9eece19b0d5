// Helpers shared by the benchmarks.
#include "bench_support.hpp"

#include <cstdlib>
#include <fstream>

#include "image/bmp_decoder.hpp"

namespace quenpix::bench {

std::string ImagePath(const std::string& name) {
    const char* dir = std::getenv("QUENPIX_BENCH_IMAGES");
    return std::string(dir != nullptr ? dir : QUENPIX_DEFAULT_BENCH_IMAGES) + "/" + name;
}

std::unique_ptr<BitmapImage> LoadImage(const std::string& name) {
    std::ifstream in(ImagePath(name), std::ios::binary);
    if (!in) return nullptr;
    auto image = std::make_unique<BitmapImage>();
    BmpDecoder decoder;
    decoder.ReadImage(in, *image);
    return image;
}

}  // namespace quenpix::bench
