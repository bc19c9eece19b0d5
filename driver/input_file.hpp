// Input files read whole: regular files, and pipes or devices read to their end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "image/large_buffer.hpp"

namespace quenpix {

// An input that cannot be read; what() is the line for the user.
class InputError final : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A whole file in memory.
struct FileBytes {
    LargeBuffer data;
    size_t size = 0;

    [[nodiscard]] std::span<const uint8_t> Bytes() const noexcept { return {data.get(), size}; }
};

// Reads `name` whole. A pipe or device (/dev/stdin) is read to its end in growing steps, so it
// costs only what arrives. `kind` names the file in messages ("input file"): InputError "Can't
// open KIND NAME" for what cannot be opened or is a folder, "Error reading KIND NAME" when
// reading fails, and "Can't read KIND NAME: larger than any valid file" beyond `maxBytes`,
// before anything of that size is allocated.
[[nodiscard]] FileBytes ReadInputFile(const std::string& name, const std::string& kind,
                                      uint64_t maxBytes);

// Throws InputError "Can't open input file NAME" when `name` is a folder: a stream opens one
// without complaint and then reads nothing.
void RefuseFolder(const std::string& name);

}  // namespace quenpix
