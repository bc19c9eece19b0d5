// The side file's name, derived from the output file's name.
#pragma once

#include <string>
#include <string_view>

namespace quenpix {

inline constexpr std::string_view kSideFileExtension = ".pls";

// `name` with everything from the last '.' of its last path component on replaced by
// `extension`; without a '.' there, `extension` is appended. Dots in directory names never
// count, so the new name always stays in the same folder.
[[nodiscard]] std::string WithExtension(std::string_view name, std::string_view extension);

// The side file of an output file: out.lsg gives out.pls, out gives out.pls.
[[nodiscard]] inline std::string SideFileName(std::string_view outputName) {
    return WithExtension(outputName, kSideFileExtension);
}

}  // namespace quenpix
