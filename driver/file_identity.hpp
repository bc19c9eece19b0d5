// Which file a name stands for: symbolic links followed, two names compared as files.
#pragma once

#include <string>
#include <vector>

namespace quenpix {

// `name`, then each name its symbolic links lead to, also the target of a dangling last link
// (which writing through it would create). A name that is no link gives just itself.
[[nodiscard]] std::vector<std::string> LinkChain(const std::string& name);

// The last name of the chain: the file that opening `name` reaches.
[[nodiscard]] std::string FollowLinks(const std::string& name);

// True when writing to `name` goes into something that is not a file on disk: a device, a pipe,
// a socket, or a descriptor the caller holds (/dev/stdout and other names through /proc). Such
// names are written in place; there is nothing to replace.
[[nodiscard]] bool WritesInPlace(const std::string& name);

// True when both names reach the same regular file, which writing to one would destroy: the same
// device and inode where both exist, otherwise the same absolute path once links are followed
// (so "x" and "./x" match before either exists). Devices and pipes never match: writing to one
// replaces nothing.
[[nodiscard]] bool SameFile(const std::string& first, const std::string& second);

}  // namespace quenpix
