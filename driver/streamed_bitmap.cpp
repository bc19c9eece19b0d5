// StreamedBitmap: a decoded image written to its Windows bitmap file while it is being decoded.
#include "driver/streamed_bitmap.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "driver/output_set.hpp"
#include "image/bitmap_image.hpp"
#include "image/bmp_encoder.hpp"

namespace quenpix {

namespace {

// Rows go to the file in bands of about this many bytes, each band's writeback started at once.
constexpr uint64_t kBandBytes = uint64_t{1} << 20;

}  // namespace

StreamedBitmap::StreamedBitmap(int descriptor, std::string name)
    : descriptor_(descriptor),
      name_(std::move(name)),
      writeback_([this](const std::stop_token& stop) { StartWriteback(stop); }) {}

StreamedBitmap::~StreamedBitmap() = default;

void StreamedBitmap::AddRow(const BitmapImage& image, uint32_t row) noexcept {
    if (failure_) return;
    try {
        if (!started_) {
            // A size the file cannot hold is refused before anything is written.
            (void)BmpEncoder::Header(image.Width(), image.Height());
            width_ = image.Width();
            height_ = image.Height();
            stride_ = image.BytesPerRow();
            started_ = true;
        }
        // The image stores its rows bottom-up and padded with zeros, as the file does: a band
        // of rows is one piece of memory, which goes to the file as it is.
        const uint8_t* stored = image.RowData(row);
        if (bandRows_ > 0 && stored + stride_ != bandStart_) WriteBand();
        bandStart_ = stored;
        ++bandRows_;
        ++rowsDone_;
        if (bandRows_ * stride_ >= kBandBytes || rowsDone_ == height_) WriteBand();
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void StreamedBitmap::Finish() {
    writeback_.request_stop();
    writeback_.join();
    if (failure_) std::rethrow_exception(failure_);
    if (!started_ || rowsDone_ != height_) throw OutputError("Error writing output file " + name_);
    const auto header = BmpEncoder::Header(width_, height_);
    WriteAt(header.data(), header.size(), 0);
}

void StreamedBitmap::WriteBand() {
    // The band's lowest row in memory is the last one finished, row rowsDone_ - 1.
    const uint64_t offset = BmpEncoder::kHeaderBytes + (uint64_t{height_} - rowsDone_) * stride_;
    WriteAt(bandStart_, bandRows_ * stride_, offset);
    bandRows_ = 0;
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
