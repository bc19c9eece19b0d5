// MallocBuffer: bytes in memory from malloc, handed to the caller of the C interface as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <streambuf>

namespace quenpix {

struct MallocDeleter {
    void operator()(uint8_t* bytes) const noexcept { std::free(bytes); }
};
using MallocBytes = std::unique_ptr<uint8_t, MallocDeleter>;

// `size` bytes from malloc (at least one, so that success never returns NULL); throws
// std::bad_alloc.
[[nodiscard]] MallocBytes AllocateForCaller(size_t size);

// A copy of `bytes` in memory the caller frees with quenpix_free.
[[nodiscard]] MallocBytes CopyForCaller(std::span<const uint8_t> bytes);

// An output stream buffer that collects what is written in memory from malloc, grown by
// doubling, so the result goes to the caller without a final copy.
class MallocStreamBuffer final : public std::streambuf {
  public:
    [[nodiscard]] size_t size() const noexcept { return size_; }
    // The bytes written; the buffer is empty afterwards.
    [[nodiscard]] MallocBytes Release() noexcept;

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;

  private:
    void Reserve(size_t needed);

    MallocBytes data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace quenpix
