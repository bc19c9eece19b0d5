// Which file a name stands for: symbolic links followed, two names compared as files.
#include "driver/file_identity.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

namespace quenpix {

namespace {

namespace fs = std::filesystem;

// Beyond this many links the name is taken as it is; opening it will report the loop.
constexpr int kMaxLinks = 40;

}  // namespace

std::vector<std::string> LinkChain(const std::string& name) {
    std::vector<std::string> chain = {name};
    fs::path path = name;
    for (int i = 0; i < kMaxLinks; ++i) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) break;
        const fs::path target = fs::read_symlink(path, error);
        if (error) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
        chain.push_back(path.string());
    }
    return chain;
}

std::string FollowLinks(const std::string& name) {
    return LinkChain(name).back();
}

bool WritesInPlace(const std::string& name) {
    const std::vector<std::string> chain = LinkChain(name);
    const bool throughProc = std::any_of(chain.begin(), chain.end(), [](const std::string& link) {
        return link.rfind("/proc/", 0) == 0;
    });
    struct stat status {};
    return throughProc || (stat(chain.back().c_str(), &status) == 0 && !S_ISREG(status.st_mode) &&
                           !S_ISDIR(status.st_mode));
}

bool SameFile(const std::string& first, const std::string& second) {
    struct stat a {};
    struct stat b {};
    const bool firstExists = stat(first.c_str(), &a) == 0;
    const bool secondExists = stat(second.c_str(), &b) == 0;
    if ((firstExists && !S_ISREG(a.st_mode)) || (secondExists && !S_ISREG(b.st_mode))) return false;
    if (firstExists && secondExists) return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    std::error_code error;
    const fs::path x = fs::weakly_canonical(FollowLinks(first), error);
    if (error) return false;
    const fs::path y = fs::weakly_canonical(FollowLinks(second), error);
    return !error && x == y;
}

}  // namespace quenpix
