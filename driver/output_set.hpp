// OutputSet: the files of one run, written in full under temporary names, then put in place.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/interrupt_guard.hpp"

namespace quenpix {

// A file that cannot be opened or written; what() is the line for the user.
class OutputError final : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Nothing that stands under an output name changes until the whole run has succeeded: each
// regular file is written under a new temporary name in its own folder and renamed over its
// target by Commit. A failure, an exception or SIGINT, SIGTERM or SIGHUP removes the temporary
// files and leaves every target as it was.
class OutputSet final {
  public:
    OutputSet();
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Opens `name` for writing. A regular file, or a name not yet taken, gets a temporary file
    // that will replace it with its permission bits and owner; a symbolic link is written
    // through, so the file it points to is replaced and the link stays. A device, pipe or socket
    // (also /dev/stdout) is written directly. Throws OutputError "Can't open output file NAME"
    // for a folder, a file the user may not write, or a missing or read-only folder.
    [[nodiscard]] std::ostream& Open(const std::string& name);

    // Opens `name` like Open, for a caller that writes at offsets of its own (pwrite): returns
    // the descriptor of the temporary file, which stays open until Commit. Only for a name that
    // Open would give a temporary file, not one written in place (see WritesInPlace).
    [[nodiscard]] int OpenForPositionedWrites(const std::string& name);

    // Closes every file and renames the temporary ones into place, the file opened first last:
    // it is the one whose presence says that the set is complete. Throws OutputError "Error
    // writing output file NAME" if a write failed; then nothing has been replaced.
    void Commit();

  private:
    struct Entry {
        Entry() = default;
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        ~Entry();

        std::string name;
        std::string target;
        // Empty for a file written directly, and once renamed into place.
        std::string temporary;
        std::ofstream stream;
        // The temporary file's, while it is open for positioned writes; else -1.
        int descriptor = -1;
    };

    // An entry with its temporary file just made, and the file's name as made: an interrupt may
    // clear the entry's own copy at any time.
    struct NewTemporary {
        Entry& entry;
        std::string name;
    };

    // Checks that `name`, whose links lead to `target`, may be replaced, creates its temporary
    // file and records it; the entry's descriptor is open. `existing` is set when a file stands
    // at `target`.
    NewTemporary AddTemporary(const std::string& name, const std::string& target,
                              const struct stat* existing);
    void RemoveTemporaries() noexcept;

    std::mutex mutex_;
    std::vector<std::unique_ptr<Entry>> entries_;
    // Last: its watcher uses the entries, so it stops before they go.
    InterruptGuard guard_;
};

}  // namespace quenpix
