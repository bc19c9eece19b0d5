// The Python extension module: encode, decode and info on the library's C interface, NumPy
// arrays in and out, the interpreter lock released while the codec works.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <utility>

#include "quenpix/quenpix.hpp"

namespace py = pybind11;

namespace {

// The pixels as rows of whole RGB pixels: a row may start anywhere, but within it the pixels
// must lie 3 bytes apart; any other layout is copied into one that does.
py::array RgbRows(const py::array& pixels) {
    if (pixels.dtype().kind() != 'u' || pixels.itemsize() != 1) {
        throw py::type_error("pixels must be a uint8 array, not " +
                             std::string(py::str(pixels.dtype())));
    }
    if (pixels.ndim() != 3 || pixels.shape(2) != 3) {
        std::string shape;
        for (py::ssize_t i = 0; i < pixels.ndim(); ++i)
            shape += (i > 0 ? ", " : "") + std::to_string(pixels.shape(i));
        throw py::value_error("pixels must have the shape (height, width, 3), RGB; got (" + shape +
                              ")");
    }
    if (pixels.shape(0) == 0 || pixels.shape(1) == 0) {
        throw py::value_error("pixels must hold at least one pixel");
    }
    const bool rowsOfPixels = pixels.strides(2) == 1 && pixels.strides(1) == 3 &&
                              pixels.strides(0) >= 3 * pixels.shape(1);
    if (rowsOfPixels) return pixels;
    return py::module_::import("numpy").attr("ascontiguousarray")(pixels);
}

// Any object with the buffer protocol (bytes, bytearray, memoryview, a uint8 array) as bytes.
struct ByteView {
    py::buffer_info info;
    [[nodiscard]] const uint8_t* data() const { return static_cast<const uint8_t*>(info.ptr); }
    [[nodiscard]] size_t size() const { return static_cast<size_t>(info.size * info.itemsize); }
};

ByteView ViewBytes(const py::buffer& buffer, const char* what) {
    py::buffer_info info = buffer.request();
    if (info.ndim > 1 || (info.ndim == 1 && info.strides[0] != info.itemsize)) {
        throw py::type_error(std::string(what) + " must be contiguous bytes");
    }
    return ByteView{std::move(info)};
}

py::bytes ToBytes(const quenpix::Buffer& buffer) {
    return py::bytes(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

py::tuple Encode(const py::array& pixels, int level, bool differencePlanes,
                 bool replaceShortMatches, int threads) {
    if (level < 0 || level > 3) throw py::value_error("level must be 0 to 3");
    if (threads < 0) throw py::value_error("threads must be 0 (all) or more");
    const py::array rows = RgbRows(pixels);
    if (rows.shape(0) > UINT32_MAX || rows.shape(1) > UINT32_MAX) {
        throw py::value_error("the image is too large for the format");
    }
    quenpix_encode_options options = quenpix::EncodeOptions();
    options.level = level;
    options.search_difference_planes = differencePlanes ? 1 : 0;
    options.replace_short_matches = replaceShortMatches ? 1 : 0;
    options.threads = threads;
    quenpix::EncodedImage encoded;
    {
        const py::gil_scoped_release unlocked;
        encoded = quenpix::Encode(
            static_cast<const uint8_t*>(rows.data()), static_cast<uint32_t>(rows.shape(1)),
            static_cast<uint32_t>(rows.shape(0)), static_cast<size_t>(rows.strides(0)), options);
    }
    return py::make_tuple(ToBytes(encoded.lsg), ToBytes(encoded.pls));
}

py::array Decode(const py::buffer& lsg, const py::buffer& pls, int threads) {
    if (threads < 0) throw py::value_error("threads must be 0 (all) or more");
    const ByteView file = ViewBytes(lsg, "lsg");
    const ByteView side = ViewBytes(pls, "pls");
    quenpix::DecodedImage image;
    {
        const py::gil_scoped_release unlocked;
        image = quenpix::Decode({file.data(), file.size()}, {side.data(), side.size()}, threads);
    }
    // The array takes the library's buffer as it is and frees it when it goes.
    const auto height = py::ssize_t{image.height};
    const auto width = py::ssize_t{image.width};
    uint8_t* rgb = image.rgb.release();
    py::capsule owner(rgb, [](void* pointer) { quenpix_free(pointer); });
    return py::array_t<uint8_t>({height, width, py::ssize_t{3}}, rgb, owner);
}

py::dict Info(const py::buffer& lsg) {
    const ByteView file = ViewBytes(lsg, "lsg");
    const quenpix_info info = quenpix::ReadInfo({file.data(), file.size()});
    py::dict result;
    result["width"] = info.width;
    result["height"] = info.height;
    result["colour_transform"] = info.colour_transform;
    result["predictor"] = info.median_predictor != 0 ? "median" : "context model";
    result["idat_chunks"] = info.idat_chunks;
    return result;
}

}  // namespace

PYBIND11_MODULE(_quenpix, module) {
    module.doc() = "Quenpix codec: the compiled core of the quenpix package.";
    py::register_exception<quenpix::Error>(module, "QuenpixError", PyExc_ValueError);
    module.attr("__version__") = quenpix_version();
    module.def("encode", &Encode, py::arg("pixels"), py::arg("level") = 2,
               py::arg("difference_planes") = true, py::arg("replace_short_matches") = true,
               py::arg("threads") = 0,
               "Compresses a uint8 array of shape (height, width, 3), RGB; returns the bytes of "
               "the compressed file and of its side file.");
    module.def("decode", &Decode, py::arg("lsg"), py::arg("pls"), py::arg("threads") = 0,
               "Decodes a compressed file with its side file into a uint8 array of shape "
               "(height, width, 3), RGB.");
    module.def("info", &Info, py::arg("lsg"),
               "What a compressed file records about its image, without decoding it.");
}
