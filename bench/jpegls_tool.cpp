// A tiny lossless JPEG-LS encoder and decoder for 24-bit BMP or PPM images, for bench/compare.
#include <charls/charls.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct RgbImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // top-down rows, no padding
};

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0).read(reinterpret_cast<char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
    if (!in) throw std::runtime_error("cannot read " + path);
    return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
           static_cast<uint32_t>(b.at(at + 3)) << 24;
}

RgbImage ParseBmp(const std::vector<uint8_t>& file) {
    const uint32_t offset = Le32(file, 10);
    const bool core = Le32(file, 14) == 12;  // the OS/2 core header has 16-bit sizes
    const auto Le16 = [&file](size_t at) {
        return static_cast<uint32_t>(file.at(at) | file.at(at + 1) << 8);
    };
    if ((!core && Le32(file, 14) < 40) || Le16(core ? 24 : 28) != 24 ||
        (!core && Le32(file, 30) != 0)) {
        throw std::runtime_error("not an uncompressed 24-bit BMP");
    }
    const auto signedHeight =
        core ? static_cast<int32_t>(Le16(20)) : static_cast<int32_t>(Le32(file, 22));
    RgbImage image{core ? Le16(18) : Le32(file, 18),
                   static_cast<uint32_t>(signedHeight < 0 ? -signedHeight : signedHeight),
                   {}};
    const size_t stride = (image.width * 3 + 3) / 4 * 4;
    if (offset + stride * image.height > file.size()) throw std::runtime_error("BMP too short");
    image.rgb.resize(size_t{image.width} * image.height * 3);
    for (uint32_t y = 0; y < image.height; ++y) {
        // Positive heights store the bottom row first.
        const size_t row = offset + stride * (signedHeight < 0 ? y : image.height - 1 - y);
        for (size_t x = 0; x < image.width; ++x) {
            for (size_t c = 0; c < 3; ++c) {
                image.rgb[(y * size_t{image.width} + x) * 3 + c] = file[row + x * 3 + 2 - c];
            }
        }
    }
    return image;
}

// Reads a binary PPM with maxval 255 and no comments, as ImageMagick, dwebp and djxl write it.
RgbImage ParsePpm(const std::vector<uint8_t>& file) {
    const std::string text(file.begin(),
                           file.begin() + static_cast<long>(std::min<size_t>(file.size(), 64)));
    unsigned width = 0, height = 0, maxval = 0;
    int headerBytes = 0;
    if (std::sscanf(text.c_str(), "P6 %u %u %u%n", &width, &height, &maxval, &headerBytes) != 3 ||
        maxval != 255) {
        throw std::runtime_error("not an 8-bit binary PPM");
    }
    const size_t start = static_cast<size_t>(headerBytes) + 1;
    RgbImage image{width, height, {}};
    if (start + size_t{width} * height * 3 > file.size()) throw std::runtime_error("PPM too short");
    image.rgb.assign(file.begin() + static_cast<long>(start),
                     file.begin() + static_cast<long>(start + size_t{width} * height * 3));
    return image;
}

void Encode(const std::string& input, const std::string& output) {
    const std::vector<uint8_t> file = ReadFile(input);
    const RgbImage image =
        file.size() > 2 && file[0] == 'B' && file[1] == 'M' ? ParseBmp(file) : ParsePpm(file);
    charls::jpegls_encoder encoder;
    encoder.frame_info({image.width, image.height, 8, 3})
        .interleave_mode(charls::interleave_mode::sample);
    std::vector<uint8_t> stream(encoder.estimated_destination_size());
    encoder.destination(stream);
    stream.resize(encoder.encode(image.rgb));
    WriteFile(output, stream);
}

void Decode(const std::string& input, const std::string& output) {
    const std::vector<uint8_t> stream = ReadFile(input);
    charls::jpegls_decoder decoder(stream, true);
    const charls::frame_info info = decoder.frame_info();
    if (info.component_count != 3 || info.bits_per_sample != 8)
        throw std::runtime_error("not 8-bit RGB");
    std::vector<uint8_t> rgb(decoder.destination_size());
    decoder.decode(rgb);
    const std::string header =
        "P6\n" + std::to_string(info.width) + " " + std::to_string(info.height) + "\n255\n";
    std::vector<uint8_t> ppm(header.begin(), header.end());
    ppm.insert(ppm.end(), rgb.begin(), rgb.end());
    WriteFile(output, ppm);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() != 3 || (args[0] != "encode" && args[0] != "decode")) {
        std::cerr << "usage: jpegls_tool encode input.bmp|input.ppm output.jls\n"
                     "       jpegls_tool decode input.jls output.ppm\n";
        return 1;
    }
    try {
        if (args[0] == "encode") {
            Encode(args[1], args[2]);
        } else {
            Decode(args[1], args[2]);
        }
    } catch (const std::exception& error) {
        std::cerr << "jpegls_tool: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
