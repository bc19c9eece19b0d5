// Helpers shared by the test programs: files, test data and small synthetic bitmaps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quenpix::testing {

// A file of the repository's test data, e.g. DataPath("public/p01_1x1.bmp").
[[nodiscard]] std::string DataPath(const std::string& name);
[[nodiscard]] std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// A fresh, empty directory for one test's files.
[[nodiscard]] std::string MakeTempDir(const std::string& tag);

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
};

// A 24-bit BMP file with a 40-byte info header; pixel(x, y) gives the colour, y = 0 the top row.
// A negative height stores the rows top-down.
[[nodiscard]] std::vector<uint8_t> MakeBmp24(uint32_t width, int32_t height,
                                             const std::function<Rgb(uint32_t, uint32_t)>& pixel);

}  // namespace quenpix::testing
