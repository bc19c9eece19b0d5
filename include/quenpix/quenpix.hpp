// Quenpix: the C++ interface, a thin layer over the C one with RAII buffers and exceptions.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "quenpix/quenpix.h"

namespace quenpix {

// A failure of the library: its status and the detailed message.
class Error : public std::runtime_error {
  public:
    Error(quenpix_status status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    [[nodiscard]] quenpix_status Status() const noexcept { return status_; }

  private:
    quenpix_status status_;
};

// Bytes that the library allocated, released with it.
class Buffer {
  public:
    Buffer() = default;
    Buffer(uint8_t* data, size_t size) noexcept : data_(data), size_(size) {}
    [[nodiscard]] const uint8_t* data() const noexcept { return data_.get(); }
    [[nodiscard]] size_t size() const noexcept { return size_; }
    [[nodiscard]] std::span<const uint8_t> bytes() const noexcept { return {data_.get(), size_}; }
    // Hands the bytes over; the caller frees them with quenpix_free.
    [[nodiscard]] uint8_t* release() noexcept {
        size_ = 0;
        return data_.release();
    }

  private:
    struct Free {
        void operator()(uint8_t* pointer) const noexcept { quenpix_free(pointer); }
    };
    std::unique_ptr<uint8_t, Free> data_;
    size_t size_ = 0;
};

// The two files of a compressed image.
struct EncodedImage {
    Buffer lsg;
    Buffer pls;
    quenpix_match_counts matches{};
};

// RGB pixels, 3 bytes each, rows top to bottom, no padding.
struct DecodedImage {
    uint32_t width = 0;
    uint32_t height = 0;
    Buffer rgb;
};

namespace detail {
constexpr size_t kMessageBytes = 256;
}  // namespace detail

// Options as in quenpix_encode_options; start from EncodeOptions() for the defaults. Its
// `matches`, `message` and `message_size` fields are filled in here.
[[nodiscard]] inline quenpix_encode_options EncodeOptions() noexcept {
    quenpix_encode_options options;
    quenpix_encode_options_init(&options);
    return options;
}

// Throws Error on any failure.
[[nodiscard]] inline EncodedImage Encode(const uint8_t* rgb, uint32_t width, uint32_t height,
                                         size_t stride,
                                         quenpix_encode_options options = EncodeOptions()) {
    EncodedImage result;
    char message[detail::kMessageBytes] = {};
    options.matches = &result.matches;
    options.message = message;
    options.message_size = sizeof(message);
    uint8_t* lsg = nullptr;
    uint8_t* pls = nullptr;
    size_t lsgSize = 0;
    size_t plsSize = 0;
    const quenpix_status status =
        quenpix_encode_rgb(rgb, width, height, stride, &options, &lsg, &lsgSize, &pls, &plsSize);
    if (status != QUENPIX_OK) throw Error(status, message);
    result.lsg = Buffer(lsg, lsgSize);
    result.pls = Buffer(pls, plsSize);
    return result;
}

// Throws Error on any failure; `threads` 0 means as many as the process may run on.
[[nodiscard]] inline DecodedImage Decode(std::span<const uint8_t> lsg, std::span<const uint8_t> pls,
                                         int threads = 0) {
    char message[detail::kMessageBytes] = {};
    quenpix_decode_options options;
    quenpix_decode_options_init(&options);
    options.threads = threads;
    options.message = message;
    options.message_size = sizeof(message);
    DecodedImage image;
    uint8_t* rgb = nullptr;
    const quenpix_status status =
        quenpix_decode_rgb_with_options(lsg.data(), lsg.size(), pls.data(), pls.size(), &options,
                                        &rgb, &image.width, &image.height);
    if (status != QUENPIX_OK) throw Error(status, message);
    image.rgb = Buffer(rgb, size_t{image.width} * image.height * 3);
    return image;
}

// The container's record of the image, without decoding it. Throws Error.
[[nodiscard]] inline quenpix_info ReadInfo(std::span<const uint8_t> lsg) {
    quenpix_info info{};
    const quenpix_status status = quenpix_read_info(lsg.data(), lsg.size(), &info);
    if (status != QUENPIX_OK) throw Error(status, quenpix_status_message(status));
    return info;
}

}  // namespace quenpix
