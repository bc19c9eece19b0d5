// The command-line tools run as child processes, for end-to-end tests of files and signals.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quenpix::testing {

struct ProcessOptions {
    // Standard input: this file, or /dev/null.
    std::string input;
    // Refuses any address space beyond this many bytes (0: no limit).
    uint64_t addressSpaceLimit = 0;
    // Refuses writes past this many bytes of any file (0: no limit); the signal that would
    // otherwise end the process is ignored, so the write fails instead.
    uint64_t fileSizeLimit = 0;
    // Run as the user nobody when the tests run as root, so that permissions count.
    bool unprivileged = false;
};

struct ProcessResult {
    int exitStatus = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

// One run of a program; the destructor kills and reaps it if it is still running.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Signal(int signal) const;
    [[nodiscard]] ProcessResult Wait();

  private:
    pid_t pid_ = -1;
    std::string outPath_;
    std::string errPath_;
};

[[nodiscard]] ProcessResult RunProcess(const std::vector<std::string>& argv,
                                       const ProcessOptions& options = {});

// True in builds whose sanitizers reserve more address space than any limit a test could set.
[[nodiscard]] bool AddressSpaceLimitsWork();

}  // namespace quenpix::testing
