// The side file's name, derived from the output file's name.
#pragma once

#include <string>
#include <string_view>

namespace quenpix {

inline constexpr std::string_view kSideFileExtension = ".pls";

// Everything from the last '.' of the last path component on is replaced by ".pls"; without
// a '.' there, ".pls" is appended. Dots in directory names never count, so the side file
// always lands beside the output file.
[[nodiscard]] std::string SideFileName(std::string_view outputName);

}  // namespace quenpix
