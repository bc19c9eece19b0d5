// StreamedBitmap: a decoded image written to its Windows bitmap file while it is being decoded.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace quenpix {

class BitmapImage;

// Writes the rows of an image to a bitmap file as they are finished, a band at a time, and has a
// thread of its own start their writeback: when the last row is done, little is left for the file
// system to do when the file is closed and put in place. The file is bottom-up, so bands go to
// it from its end backwards; the headers come last.
class StreamedBitmap final {
  public:
    // `descriptor` is an empty regular file open for writing; `name` names it in messages.
    StreamedBitmap(int descriptor, std::string name);
    ~StreamedBitmap();
    StreamedBitmap(const StreamedBitmap&) = delete;
    StreamedBitmap& operator=(const StreamedBitmap&) = delete;

    // Row `row` of `image` (from the top) is finished. Rows come in order, each once, all of the
    // same image. A failure is kept for Finish.
    void AddRow(const BitmapImage& image, uint32_t row) noexcept;

    // Once every row has come: writes the headers and stops the writeback thread. Throws the
    // first failure: OutputError "Error writing output file NAME", or EImageTooLarge.
    void Finish();

  private:
    void WriteBand();
    void WriteAt(const uint8_t* bytes, uint64_t length, uint64_t offset);
    void StartWriteback(const std::stop_token& stop);

    const int descriptor_;
    const std::string name_;
    std::exception_ptr failure_;

    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint64_t stride_ = 0;
    bool started_ = false;
    // The band not yet written: its lowest row in memory, and how many rows it has.
    const uint8_t* bandStart_ = nullptr;
    uint32_t bandRows_ = 0;
    uint32_t rowsDone_ = 0;

    // Shared with the writeback thread: where the written part of the file begins.
    std::mutex mutex_;
    std::condition_variable_any written_;
    uint64_t writtenFrom_ = 0;
    // Last: it stops, and is joined, before the rest goes.
    std::jthread writeback_;
};

}  // namespace quenpix
