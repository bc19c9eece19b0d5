// StreamedBitmap: a decoded image written to its Windows bitmap file while it is being decoded.
#include "driver/streamed_bitmap.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "driver/output_set.hpp"
#include "image/bmp_encoder.hpp"

namespace quenpix {

namespace {

// Rows go to the file in bands of about this many bytes, each band's writeback started at once.
constexpr uint64_t kBandBytes = uint64_t{1} << 20;

}  // namespace

StreamedBitmap::StreamedBitmap(int descriptor, std::string name)
    : descriptor_(descriptor), name_(std::move(name)) {}

StreamedBitmap::~StreamedBitmap() = default;

void StreamedBitmap::Start(uint32_t width, uint32_t height) {
    (void)BmpEncoder::Header(width, height);
    width_ = width;
    height_ = height;
    stride_ = (uint64_t{3} * width + 3) & ~uint64_t{3};
    bandRows_ = static_cast<uint32_t>(std::clamp<uint64_t>(kBandBytes / stride_, 1, height));
    band_ = AllocateLargeZeroed(static_cast<size_t>(bandRows_ * stride_));
    // The whole file's space at once: the bands then go into blocks the file already has, which
    // costs the file system less than finding them band by band, and nothing is left for it to
    // allocate when the file replaces another. Where that fails, writing finds the space, or
    // the error, and each band's writeback is started as it is written instead: otherwise the
    // file system may write the whole file inside the rename that puts it in place.
    if (fallocate(descriptor_, 0, 0,
                  static_cast<off_t>(BmpEncoder::kHeaderBytes + stride_ * height_)) != 0) {
        writeback_.emplace([this](const std::stop_token& stop) { StartWriteback(stop); });
    }
}

uint8_t* StreamedBitmap::Row(uint32_t row) noexcept {
    return band_.get() + (bandRows_ - 1 - (row - bandFirst_)) * stride_;
}

void StreamedBitmap::Finished(uint32_t row) noexcept {
    rowsDone_ = row + 1;
    const uint32_t rows = row + 1 - bandFirst_;
    if (rows < bandRows_ && rowsDone_ < height_) return;
    try {
        if (!failure_) WriteBand(rows);
    } catch (...) {
        failure_ = std::current_exception();
    }
    bandFirst_ = rowsDone_;
}

void StreamedBitmap::Finish() {
    writeback_.reset();
    if (failure_) std::rethrow_exception(failure_);
    if (height_ == 0 || rowsDone_ != height_) {
        throw OutputError("Error writing output file " + name_);
    }
    const auto header = BmpEncoder::Header(width_, height_);
    WriteAt(header.data(), header.size(), 0);
}

void StreamedBitmap::WriteBand(uint32_t rows) {
    // The band's last rows in memory; the file has the image's bottom row first.
    const uint64_t offset =
        BmpEncoder::kHeaderBytes + (uint64_t{height_} - bandFirst_ - rows) * stride_;
    WriteAt(band_.get() + (bandRows_ - rows) * stride_, rows * stride_, offset);
    {
        const std::lock_guard lock(mutex_);
        writtenFrom_ = offset;
    }
    written_.notify_one();
}

void StreamedBitmap::WriteAt(const uint8_t* bytes, uint64_t length, uint64_t offset) {
    while (length > 0) {
        const ssize_t done = pwrite(descriptor_, bytes, length, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) throw OutputError("Error writing output file " + name_);
        bytes += done;
        length -= static_cast<uint64_t>(done);
        offset += static_cast<uint64_t>(done);
    }
}

void StreamedBitmap::StartWriteback(const std::stop_token& stop) {
    // The file is written from its end backwards: [startedFrom, end) has had its writeback
    // started, and each new band lies just before it.
    uint64_t startedFrom = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!written_.wait(lock, stop, [&] {
                return writtenFrom_ != 0 && (startedFrom == 0 || writtenFrom_ < startedFrom);
            })) {
            return;
        }
        const uint64_t from = writtenFrom_;
        lock.unlock();
        // Only a request to start writing back: the data is in the file either way. A length of
        // 0 reaches the end of the file.
        (void)sync_file_range(descriptor_, static_cast<off_t>(from),
                              static_cast<off_t>(startedFrom == 0 ? 0 : startedFrom - from),
                              SYNC_FILE_RANGE_WRITE);
        startedFrom = from;
        lock.lock();
    }
}

}  // namespace quenpix
