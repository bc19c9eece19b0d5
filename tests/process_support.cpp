// The command-line tools run as child processes, for end-to-end tests of files and signals.
#include "process_support.hpp"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quenpix::testing {

namespace {

constexpr uid_t kNobody = 65534;

std::string TemporaryCapture(const char* tag) {
    std::string path = (std::filesystem::temp_directory_path() / tag).string() + "-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    close(fd);
    return path;
}

std::string ReadAndRemove(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(path);
    return text;
}

// In the child, between fork and exec: only plain system calls, then exec or _exit.
[[noreturn]] void StartChild(const std::vector<std::string>& argv, const ProcessOptions& options,
                             const std::string& outPath, const std::string& errPath) {
    const int in = open(options.input.empty() ? "/dev/null" : options.input.c_str(), O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_TRUNC);
    const int err = open(errPath.c_str(), O_WRONLY | O_TRUNC);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (options.addressSpaceLimit > 0) {
        const rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    if (options.fileSizeLimit > 0) {
        const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
        if (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (options.unprivileged && geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
    : outPath_(TemporaryCapture("quenpix-out")), errPath_(TemporaryCapture("quenpix-err")) {
    if (options.unprivileged) {
        // nobody must be able to write its captures.
        std::filesystem::permissions(outPath_, std::filesystem::perms::all);
        std::filesystem::permissions(errPath_, std::filesystem::perms::all);
    }
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) StartChild(argv, options, outPath_, errPath_);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        std::filesystem::remove(outPath_);
        std::filesystem::remove(errPath_);
    }
}

void ChildProcess::Signal(int signal) const {
    kill(pid_, signal);
}

ProcessResult ChildProcess::Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    ProcessResult result;
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = ReadAndRemove(outPath_);
    result.err = ReadAndRemove(errPath_);
    return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    return ChildProcess(argv, options).Wait();
}

bool AddressSpaceLimitsWork() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#else
    return true;
#endif
}

}  // namespace quenpix::testing
