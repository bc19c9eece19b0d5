// The side file's name, derived from the output file's name.
#include "format/side_file_name.hpp"

namespace quenpix {

std::string WithExtension(std::string_view name, std::string_view extension) {
    const size_t slash = name.rfind('/');
    const size_t componentStart = slash == std::string_view::npos ? 0 : slash + 1;
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot < componentStart) dot = name.size();
    std::string result(name.substr(0, dot));
    result += extension;
    return result;
}

}  // namespace quenpix
