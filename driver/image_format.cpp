// The formats quenpix-decode writes: BMP, PNG and PPM, chosen by name or by --format.
#include "driver/image_format.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <utility>

#include "driver/png_writer.hpp"
#include "driver/ppm_writer.hpp"
#include "image/bmp_encoder.hpp"

namespace quenpix {

namespace {

constexpr std::array<std::pair<std::string_view, ImageFormat>, 4> kExtensions = {{
    {".bmp", ImageFormat::kBmp},
    {".png", ImageFormat::kPng},
    {".ppm", ImageFormat::kPpm},
    {".pnm", ImageFormat::kPpm},
}};

}  // namespace

std::optional<ImageFormat> FormatOfName(std::string_view name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return std::nullopt;
    }
    std::string extension(name.substr(dot));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, format] : kExtensions) {
        if (extension == known) return format;
    }
    return std::nullopt;
}

std::optional<ImageFormat> ParseFormat(std::string_view value) {
    if (value == "bmp") return ImageFormat::kBmp;
    if (value == "png") return ImageFormat::kPng;
    if (value == "ppm") return ImageFormat::kPpm;
    return std::nullopt;
}

std::string_view ExtensionOf(ImageFormat format) noexcept {
    switch (format) {
        case ImageFormat::kPng:
            return ".png";
        case ImageFormat::kPpm:
            return ".ppm";
        case ImageFormat::kBmp:
            break;
    }
    return ".bmp";
}

void WriteImageAs(ImageFormat format, std::ostream& output, BitmapImage& image) {
    switch (format) {
        case ImageFormat::kPng:
            WritePng(output, image);
            return;
        case ImageFormat::kPpm:
            WritePpm(output, image);
            return;
        case ImageFormat::kBmp:
            BmpEncoder().WriteImage(output, image);
            return;
    }
}

}  // namespace quenpix
