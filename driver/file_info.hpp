// quenpix-decode --info: what a compressed file and its side file hold, without writing anything.
#pragma once

#include <iosfwd>
#include <string>

namespace quenpix {

// Prints the image's size, colour transform and predictor, the chunks, blocks, matches and
// colour boxes, the sizes of both files, the bits per pixel and whether the checksums hold. The
// side file is read if it is there. Returns the exit status: 1 when the file is damaged (what
// could be read is printed first, the fault on `err`).
[[nodiscard]] int PrintFileInfo(const std::string& inputName, std::ostream& out, std::ostream& err);

}  // namespace quenpix
