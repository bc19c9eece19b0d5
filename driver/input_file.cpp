// Input files read whole: regular files, and pipes or devices read to their end.
#include "driver/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quenpix {

namespace {

constexpr size_t kFirstPipeChunk = size_t{1} << 16;

[[noreturn]] void ThrowCannotOpen(const std::string& kind, const std::string& name) {
    throw InputError("Can't open " + kind + " " + name);
}

// Closes the descriptor however the read ends.
class Descriptor final {
  public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const noexcept { return fd_; }

  private:
    int fd_;
};

// Reads up to `count` bytes; fewer only at the end of the input.
[[nodiscard]] size_t ReadUpTo(int fd, uint8_t* bytes, size_t count, const std::string& kind,
                              const std::string& name) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = read(fd, bytes + done, count - done);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            throw InputError("Error reading " + kind + " " + name);
        }
        done += static_cast<size_t>(got);
    }
    return done;
}

}  // namespace

void RefuseFolder(const std::string& name) {
    struct stat status {};
    if (stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        ThrowCannotOpen("input file", name);
}

FileBytes ReadInputFile(const std::string& name, const std::string& kind, uint64_t maxBytes) {
    const Descriptor fd(open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) ThrowCannotOpen(kind, name);
    struct stat status {};
    if (fstat(fd.get(), &status) != 0 || S_ISDIR(status.st_mode)) ThrowCannotOpen(kind, name);
    const auto tooLarge = [&] {
        throw InputError("Can't read " + kind + " " + name + ": larger than any valid file");
    };
    const auto readUpTo = [&](uint8_t* bytes, size_t count) {
        return ReadUpTo(fd.get(), bytes, count, kind, name);
    };

    FileBytes file;
    if (S_ISREG(status.st_mode)) {
        const auto size = static_cast<uint64_t>(status.st_size);
        if (size > maxBytes) tooLarge();
        file.data = AllocateLarge(static_cast<size_t>(size));
        // A file that shrinks meanwhile gives what it still holds; the decoder judges that.
        file.size = readUpTo(file.data.get(), static_cast<size_t>(size));
        return file;
    }
    // A pipe or device: its length shows only at its end.
    size_t capacity = 0;
    for (;;) {
        if (file.size == capacity) {
            if (capacity >= maxBytes) {
                uint8_t probe = 0;
                if (readUpTo(&probe, 1) == 0) return file;
                tooLarge();
            }
            const size_t grown = static_cast<size_t>(
                std::min<uint64_t>(std::max(kFirstPipeChunk, 2 * capacity), maxBytes));
            LargeBuffer bigger = AllocateLarge(grown);
            std::copy_n(file.data.get(), file.size, bigger.get());
            file.data = std::move(bigger);
            capacity = grown;
        }
        const size_t got = readUpTo(file.data.get() + file.size, capacity - file.size);
        file.size += got;
        if (file.size < capacity) return file;
    }
}

}  // namespace quenpix
