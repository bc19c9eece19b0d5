// Helpers shared by the benchmarks.
#include "bench/bench_support.hpp"

#include <cstdlib>
#include <fstream>

#include "image/bmp_decoder.hpp"
#include "image/channel_order.hpp"

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

std::vector<uint8_t> RawPlane(const BitmapImage& image, size_t tail) {
    const size_t rowBytes = 3 * static_cast<size_t>(image.Width());
    std::vector<uint8_t> raw(rowBytes * image.Height() + tail, 0);
    for (uint32_t r = 0; r < image.Height(); ++r)
        CopySwappingRedAndBlue(image.RowData(r), raw.data() + r * rowBytes, image.Width());
    return raw;
}

void ReportPixelRate(benchmark::State& state, const BitmapImage& image) {
    const double megapixels = static_cast<double>(image.Width()) * image.Height() / 1e6;
    state.counters["MP/s"] =
        benchmark::Counter(megapixels, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace quenpix::bench
