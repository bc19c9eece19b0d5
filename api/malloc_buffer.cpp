// MallocBuffer: bytes in memory from malloc, handed to the caller of the C interface as they are.
#include "api/malloc_buffer.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace quenpix {

namespace {

constexpr size_t kFirstCapacity = size_t{1} << 16;

}  // namespace

MallocBytes AllocateForCaller(size_t size) {
    auto* bytes = static_cast<uint8_t*>(std::malloc(std::max<size_t>(size, 1)));
    if (bytes == nullptr) throw std::bad_alloc();
    return MallocBytes(bytes);
}

MallocBytes CopyForCaller(std::span<const uint8_t> bytes) {
    MallocBytes copy = AllocateForCaller(bytes.size());
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    return copy;
}

MallocBytes MallocStreamBuffer::Release() noexcept {
    size_ = 0;
    capacity_ = 0;
    return std::move(data_);
}

void MallocStreamBuffer::Reserve(size_t needed) {
    if (needed <= capacity_) return;
    const size_t capacity = std::max({needed, 2 * capacity_, kFirstCapacity});
    auto* grown = static_cast<uint8_t*>(std::realloc(data_.get(), capacity));
    if (grown == nullptr) throw std::bad_alloc();
    (void)data_.release();
    data_.reset(grown);
    capacity_ = capacity;
}

MallocStreamBuffer::int_type MallocStreamBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    xsputn(&byte, 1);
    return c;
}

std::streamsize MallocStreamBuffer::xsputn(const char* bytes, std::streamsize count) {
    const auto n = static_cast<size_t>(count);
    Reserve(size_ + n);
    std::memcpy(data_.get() + size_, bytes, n);
    size_ += n;
    return count;
}

}  // namespace quenpix
