// The command-line tools run in-process: their exit status and what they print.
#pragma once

#include <iosfwd>
#include <sstream>
#include <string>
#include <vector>

namespace quenpix::testing {

struct CommandResult {
    int status;
    std::string out;
    std::string err;
};

using CommandFunction = int (*)(int, const char* const*, std::ostream&, std::ostream&);

// `arguments` is the whole command line, the program name first.
inline CommandResult RunCommand(CommandFunction command,
                                const std::vector<std::string>& arguments) {
    std::vector<const char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    std::ostringstream out;
    std::ostringstream err;
    const int status = command(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

}  // namespace quenpix::testing
