// The formats quenpix-decode writes: BMP, PNG and PPM, chosen by name or by --format.
#pragma once

#include <iosfwd>
#include <optional>
#include <string_view>

namespace quenpix {

class BitmapImage;

enum class ImageFormat { kBmp, kPng, kPpm };

// What the messages offer.
inline constexpr std::string_view kFormatNames = "bmp, png or ppm";
inline constexpr std::string_view kFormatExtensions = ".bmp, .png, .ppm or .pnm";

// The format a file name asks for by its extension, in any case; nullopt for any other.
[[nodiscard]] std::optional<ImageFormat> FormatOfName(std::string_view name);
// The format --format names: "bmp", "png" or "ppm".
[[nodiscard]] std::optional<ImageFormat> ParseFormat(std::string_view value);
// ".bmp", ".png" or ".ppm": the extension of a name made for the format.
[[nodiscard]] std::string_view ExtensionOf(ImageFormat format) noexcept;

// Writes a 24-bit image in the format.
void WriteImageAs(ImageFormat format, std::ostream& output, BitmapImage& image);

}  // namespace quenpix
