// OutputSet: the files of one run, written in full under temporary names, then put in place.
#include "driver/output_set.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include "driver/file_identity.hpp"

namespace quenpix {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxTemporaryAttempts = 100;
// New files get what the umask leaves of this, as with any program that creates a file.
constexpr mode_t kNewFileMode = 0666;

[[noreturn]] void ThrowCannotOpen(const std::string& name) {
    throw OutputError("Can't open output file " + name);
}

[[noreturn]] void ThrowWriteError(const std::string& name) {
    throw OutputError("Error writing output file " + name);
}

// Creates a file of a new random name beside `target`, as mkstemp does, but with the mode the
// umask gives a new file. Returns the descriptor and sets `name`.
[[nodiscard]] int CreateTemporary(const std::string& target, std::string& name) {
    const fs::path path = target;
    const std::string folder = path.has_parent_path() ? path.parent_path().string() + "/" : "";
    std::random_device entropy;
    std::uniform_int_distribution<int> letter(0, 35);
    for (int attempt = 0; attempt < kMaxTemporaryAttempts; ++attempt) {
        std::string suffix(6, '0');
        for (char& c : suffix) {
            const int k = letter(entropy);
            c = static_cast<char>(k < 10 ? '0' + k : 'a' + k - 10);
        }
        name = folder + "." + path.filename().string() + "." + suffix;
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// A file that replaces another takes its owner and permission bits.
void KeepOwnerAndMode(int descriptor, const struct stat* existing) noexcept {
    if (existing == nullptr) return;
    // Ownership first: changing it may clear the set-id bits that the mode restores.
    (void)!fchown(descriptor, existing->st_uid, existing->st_gid);
    (void)!fchmod(descriptor, existing->st_mode & 07777);
}

}  // namespace

OutputSet::Entry::~Entry() {
    if (descriptor >= 0) close(descriptor);
}

OutputSet::OutputSet() : guard_([this] { RemoveTemporaries(); }) {}

OutputSet::~OutputSet() {
    RemoveTemporaries();
}

void OutputSet::RemoveTemporaries() noexcept {
    const std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
        if (!entry->temporary.empty()) unlink(entry->temporary.c_str());
        entry->temporary.clear();
    }
}

std::ostream& OutputSet::Open(const std::string& name) {
    const std::string target = FollowLinks(name);
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) ThrowCannotOpen(name);

    if (WritesInPlace(name)) {
        auto entry = std::make_unique<Entry>();
        entry->name = name;
        entry->stream.open(name, std::ios::binary | std::ios::trunc);
        if (!entry->stream) ThrowCannotOpen(name);
        const std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
        return entries_.back()->stream;
    }
    const NewTemporary made = AddTemporary(name, target, exists ? &existing : nullptr);
    Entry& entry = made.entry;
    // Opened without truncating: the file is new and empty, and a truncation would have the file
    // system flush it at close. Opened before the mode changes, which may forbid reading.
    entry.stream.open(made.name, std::ios::binary | std::ios::in | std::ios::out);
    KeepOwnerAndMode(entry.descriptor, exists ? &existing : nullptr);
    close(entry.descriptor);
    entry.descriptor = -1;
    if (!entry.stream) ThrowCannotOpen(name);
    return entry.stream;
}

int OutputSet::OpenForPositionedWrites(const std::string& name) {
    const std::string target = FollowLinks(name);
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) ThrowCannotOpen(name);
    const Entry& entry = AddTemporary(name, target, exists ? &existing : nullptr).entry;
    KeepOwnerAndMode(entry.descriptor, exists ? &existing : nullptr);
    return entry.descriptor;
}

OutputSet::NewTemporary OutputSet::AddTemporary(const std::string& name,
                                                const std::string& target,
                                                const struct stat* existing) {
    // A file the user could not open for writing is not replaced either.
    if (existing != nullptr && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        ThrowCannotOpen(name);
    }
    // Made and recorded under the lock, so that an interrupt never misses it.
    const std::lock_guard lock(mutex_);
    auto& entry = *entries_.emplace_back(std::make_unique<Entry>());
    entry.name = name;
    entry.target = target;
    entry.descriptor = CreateTemporary(target, entry.temporary);
    if (entry.descriptor < 0) {
        entry.temporary.clear();
        ThrowCannotOpen(name);
    }
    return {entry, entry.temporary};
}

void OutputSet::Commit() {
    for (const auto& entry : entries_) {
        if (entry->descriptor >= 0) {
            const int descriptor = entry->descriptor;
            entry->descriptor = -1;
            if (close(descriptor) != 0) ThrowWriteError(entry->name);
            continue;
        }
        entry->stream.close();
        if (entry->stream.fail()) ThrowWriteError(entry->name);
    }
    // Under the lock, so that an interrupt sees either no file renamed or all of them.
    const std::lock_guard lock(mutex_);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        Entry& entry = **it;
        if (entry.temporary.empty()) continue;
        if (std::rename(entry.temporary.c_str(), entry.target.c_str()) != 0) {
            ThrowWriteError(entry.name);
        }
        entry.temporary.clear();
    }
}

}  // namespace quenpix
