// Helpers shared by the test programs: files, test data and small synthetic bitmaps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quenpix::testing {

// Under ThreadSanitizer every memory access costs many times more: single-threaded stress tests
// leave it out, and the thread-count tests run fewer counts (the optimised build runs them all).
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
#else
inline constexpr bool kThreadSanitizer = false;
#endif

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
