// Helpers shared by the test programs.
#include "test_support.hpp"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <unistd.h>

namespace quenpix::testing {

std::string DataPath(const std::string& name) {
    return std::string(QUENPIX_TEST_DATA) + "/" + name;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string MakeTempDir(const std::string& tag) {
    static std::atomic<int> counter{0};
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("quenpix-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

namespace {
void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
}  // namespace

std::vector<uint8_t> MakeBmp24(uint32_t width, int32_t height,
                               const std::function<Rgb(uint32_t, uint32_t)>& pixel) {
    const uint32_t rows = static_cast<uint32_t>(height < 0 ? -int64_t{height} : height);
    const uint32_t stride = (3 * width + 3) & ~3u;
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    PutLe(out, 54 + stride * rows, 4);
    PutLe(out, 0, 4);
    PutLe(out, 54, 4);
    PutLe(out, 40, 4);
    PutLe(out, width, 4);
    PutLe(out, static_cast<uint32_t>(height), 4);
    PutLe(out, 1, 2);
    PutLe(out, 24, 2);
    for (int i = 0; i < 6; ++i)
        PutLe(out, 0, 4);
    for (uint32_t k = 0; k < rows; ++k) {
        const uint32_t y = height < 0 ? k : rows - 1 - k;
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            out.push_back(c.blue);
            out.push_back(c.green);
            out.push_back(c.red);
        }
        for (uint32_t p = 3 * width; p < stride; ++p)
            out.push_back(0);
    }
    return out;
}

}  // namespace quenpix::testing
