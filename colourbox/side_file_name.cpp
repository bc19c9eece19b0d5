// The side file's name, derived from the output file's name.
#include "colourbox/side_file_name.hpp"

namespace quenpix {

std::string SideFileName(std::string_view outputName) {
    const size_t slash = outputName.rfind('/');
    const size_t componentStart = slash == std::string_view::npos ? 0 : slash + 1;
    size_t dot = outputName.rfind('.');
    if (dot == std::string_view::npos || dot < componentStart) dot = outputName.size();
    std::string name(outputName.substr(0, dot));
    name += kSideFileExtension;
    return name;
}

}  // namespace quenpix
