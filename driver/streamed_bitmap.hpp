// StreamedBitmap: a decoded image written to its Windows bitmap file while it is being decoded.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "decoder/row_target.hpp"
#include "image/large_buffer.hpp"

namespace quenpix {

// Takes the rows of a decoded image into a band of about a megabyte and writes each full band
// to the bitmap file, so that the image is never held whole. The file gets its whole space
// first; where it cannot, a thread of its own starts each band's writeback, so that little is
// left for the file system to do when the file is closed and put in place. The file is
// bottom-up: bands go to it from its end backwards, and the headers come last.
class StreamedBitmap final : public RowTarget {
  public:
    // `descriptor` is an empty regular file open for writing; `name` names it in messages.
    StreamedBitmap(int descriptor, std::string name);
    ~StreamedBitmap() override;
    StreamedBitmap(const StreamedBitmap&) = delete;
    StreamedBitmap& operator=(const StreamedBitmap&) = delete;

    // Throws EImageTooLarge for a size that the file's fields cannot hold.
    void Start(uint32_t width, uint32_t height) override;
    [[nodiscard]] uint8_t* Row(uint32_t row) noexcept override;
    // A write that fails is kept for Finish.
    void Finished(uint32_t row) noexcept override;

    // Once every row has come: writes the headers and stops any writeback thread. Throws the
    // first failure, OutputError "Error writing output file NAME".
    void Finish();

  private:
    void WriteBand(uint32_t rows);
    void WriteAt(const uint8_t* bytes, uint64_t length, uint64_t offset);
    void StartWriteback(const std::stop_token& stop);

    const int descriptor_;
    const std::string name_;
    std::exception_ptr failure_;

    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint64_t stride_ = 0;
    // The band holds up to bandRows_ rows from bandFirst_ on, bottom-up like the file, so that
    // its rows go to the file in one piece; their padding stays zero.
    LargeBuffer band_;
    uint32_t bandRows_ = 0;
    uint32_t bandFirst_ = 0;
    uint32_t rowsDone_ = 0;

    // Shared with the writeback thread: where the written part of the file begins.
    std::mutex mutex_;
    std::condition_variable_any written_;
    uint64_t writtenFrom_ = 0;
    // Last: it stops, and is joined, before the rest goes.
    std::optional<std::jthread> writeback_;
};

}  // namespace quenpix
