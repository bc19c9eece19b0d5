// BmpDecoder: reads Windows bitmaps (headers, colour table, raw and run-length pixels).
#include "image/bmp_decoder.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <istream>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "image/bitmap_image.hpp"
#include "image/exceptions.hpp"

namespace quenpix {
namespace {

constexpr uint32_t kSignature = 0x4D42;  // the bytes 'B', 'M' read little-endian
constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kCoreEntryBytes = 3;
constexpr uint32_t kInfoEntryBytes = 4;
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
// Rows and pixel arrays are addressed with 32-bit byte counts; anything larger is refused
// before allocation rather than decoded into a buffer whose size wrapped.
constexpr uint64_t kMaxBufferBytes = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kTopBit = 0x80000000u;
constexpr size_t kSkipChunkBytes = 4096;
// The longest absolute run: 255 RLE8 pixels and their pad byte.
constexpr size_t kMaxAbsoluteRunBytes = 256;

[[noreturn]] void ThrowReadError() {
    throw EBmpFileReadError(messages::kBmpReadError);
}
[[noreturn]] void ThrowCorrupt() {
    throw EBmpCorruptFile(messages::kCorruptBmp);
}
[[noreturn]] void ThrowNotSupported() {
    throw EBmpNotSupported(messages::kUnsupportedBmp);
}

[[nodiscard]] uint32_t Le16(std::span<const uint8_t> bytes, size_t at) noexcept {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8;
}

[[nodiscard]] uint32_t Le32(std::span<const uint8_t> bytes, size_t at) noexcept {
    return Le16(bytes, at) | Le16(bytes, at + 2) << 16;
}

// Returns how many bytes arrived; stops early only at the end of the input.
[[nodiscard]] size_t ReadSome(std::istream& input, std::span<uint8_t> bytes) {
    if (bytes.empty()) return 0;
    input.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<size_t>(input.gcount());
}

// Header fields, colours and skipped bytes must arrive whole: a short file never lends a
// field or colour that was not read.
void ReadExactly(std::istream& input, std::span<uint8_t> bytes) {
    if (ReadSome(input, bytes) != bytes.size()) ThrowReadError();
}

void Skip(std::istream& input, uint64_t count) {
    std::array<uint8_t, kSkipChunkBytes> scratch{};
    while (count > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, scratch.size()));
        ReadExactly(input, std::span(scratch).first(chunk));
        count -= chunk;
    }
}

struct BmpLayout {
    uint32_t pixelOffset = 0;
    // 64 bits: a header size near 2^32 must not wrap back below the pixel-data offset.
    uint64_t consumed = 0;
    uint32_t width = 0;
    // Signed: a negative height stores the rows top-down.
    int64_t height = 0;
    uint32_t bitCount = 0;
    uint32_t compression = kCompressionNone;
    uint32_t entryBytes = 0;
};

[[nodiscard]] BmpLayout ReadHeaders(std::istream& input) {
    std::array<uint8_t, kFileHeaderBytes> fileHeader{};
    ReadExactly(input, fileHeader);
    if (Le16(fileHeader, 0) != kSignature) throw EBmpNotABmpFile(messages::kNotABmp);

    BmpLayout layout;
    layout.pixelOffset = Le32(fileHeader, 10);
    std::array<uint8_t, 4> sizeField{};
    ReadExactly(input, sizeField);
    const uint32_t headerSize = Le32(sizeField, 0);
    if (headerSize == kCoreHeaderBytes) {
        std::array<uint8_t, kCoreHeaderBytes - 4> core{};
        ReadExactly(input, core);
        layout.width = Le16(core, 0);
        layout.height = Le16(core, 2);
        layout.bitCount = Le16(core, 6);
        layout.entryBytes = kCoreEntryBytes;
        layout.consumed = kFileHeaderBytes + kCoreHeaderBytes;
        return layout;
    }
    if (headerSize < kInfoHeaderBytes) ThrowCorrupt();

    std::array<uint8_t, kInfoHeaderBytes - 4> info{};
    ReadExactly(input, info);
    layout.width = Le32(info, 0);
    layout.height = static_cast<int32_t>(Le32(info, 4));
    layout.bitCount = Le16(info, 10);
    layout.compression = Le32(info, 12);
    layout.entryBytes = kInfoEntryBytes;
    Skip(input, headerSize - kInfoHeaderBytes);
    layout.consumed = uint64_t{kFileHeaderBytes} + headerSize;
    return layout;
}

// The colour table always has 2^bitCount entries, whatever the colours-used field says.
[[nodiscard]] uint32_t CheckFormat(const BmpLayout& layout) {
    const uint32_t compression = layout.compression;
    switch (layout.bitCount) {
        case 1:
            if (compression == kCompressionNone) return 2;
            break;
        case 4:
            if (compression == kCompressionNone || compression == kCompressionRle4) return 16;
            break;
        case 8:
            if (compression == kCompressionNone || compression == kCompressionRle8) return 256;
            break;
        case 24:
            if (compression == kCompressionNone) return 0;
            break;
        default:
            break;
    }
    ThrowNotSupported();
}

[[nodiscard]] uint32_t AbsoluteHeight(int64_t height) noexcept {
    return static_cast<uint32_t>(height < 0 ? -height : height);
}

void CheckDimensions(const BmpLayout& layout) {
    if ((layout.width & kTopBit) != 0 || layout.height == std::numeric_limits<int32_t>::min()) {
        ThrowCorrupt();
    }
    const uint64_t rowBytes = (uint64_t{layout.bitCount} * layout.width + 7) / 8;
    const uint64_t paddedRowBytes = (rowBytes + 3) & ~uint64_t{3};
    if (paddedRowBytes > kMaxBufferBytes ||
        paddedRowBytes * AbsoluteHeight(layout.height) > kMaxBufferBytes) {
        ThrowCorrupt();
    }
}

// Read before the image is sized, so that nothing image-sized is allocated before the file has
// shown, up to its pixel data, that it is a bitmap.
[[nodiscard]] std::vector<uint8_t> ReadColourTable(std::istream& input, uint32_t colorCount,
                                                   uint32_t entryBytes) {
    std::vector<uint8_t> table(size_t{colorCount} * entryBytes);
    ReadExactly(input, table);
    return table;
}

void FillColourMap(BitmapImage& image, std::span<const uint8_t> table, uint32_t entryBytes) {
    for (uint32_t i = 0; i < image.ColorCount(); ++i) {
        const size_t at = size_t{i} * entryBytes;
        ColorMapEntry& entry = image.ColorMap(i);
        entry.blue = table[at];
        entry.green = table[at + 1];
        entry.red = table[at + 2];
    }
}

// The bytes left in a seekable stream; nullopt for a pipe, which only reading can measure.
[[nodiscard]] std::optional<uint64_t> BytesLeft(std::istream& input) {
    const std::istream::pos_type here = input.tellg();
    if (here == std::istream::pos_type(-1)) {
        input.clear();
        return std::nullopt;
    }
    input.seekg(0, std::ios::end);
    const std::istream::pos_type end = input.tellg();
    input.seekg(here);
    if (!input || end == std::istream::pos_type(-1) || end < here) {
        input.clear();
        input.seekg(here);
        return std::nullopt;
    }
    return static_cast<uint64_t>(end - here);
}

// The pixel array of an uncompressed bitmap, read before the image is sized: a file shorter than
// its declared pixels is refused without allocating them. A seekable file is measured and then
// read in place; a pipe is read into a buffer that grows only as bytes arrive.
class UncompressedPixels {
  public:
    UncompressedPixels(std::istream& input, uint64_t total) : input_(input), total_(total) {
        const std::optional<uint64_t> left = BytesLeft(input);
        if (left) {
            if (*left < total) ThrowReadError();
            return;
        }
        constexpr size_t kChunkBytes = size_t{1} << 20;
        while (buffered_.size() < total) {
            const size_t before = buffered_.size();
            const size_t chunk =
                static_cast<size_t>(std::min<uint64_t>(kChunkBytes, total - before));
            buffered_.resize(before + chunk);
            if (ReadSome(input, std::span(buffered_).subspan(before)) != chunk) ThrowReadError();
        }
        fromBuffer_ = true;
    }

    // Delivers all the bytes to `target`; the stream was measured, so a short read here means
    // the file changed under us, and is still a read error.
    void CopyTo(uint8_t* target) {
        if (fromBuffer_) {
            std::copy(buffered_.begin(), buffered_.end(), target);
            return;
        }
        if (ReadSome(input_, std::span(target, static_cast<size_t>(total_))) != total_) {
            std::fill_n(target, total_, 0);
            ThrowReadError();
        }
    }

  private:
    std::istream& input_;
    uint64_t total_;
    bool fromBuffer_ = false;
    std::vector<uint8_t> buffered_;
};

// Row copies of the pixel bytes only: the image's padding stays zero. Bottom-up 24-bit data
// reports no progress between 0 and 100; every other layout reports before each row.
template <typename Report>
void ReadUncompressed(UncompressedPixels& pixels, BitmapImage& image, bool topDown,
                      Report& report) {
    const uint32_t rows = image.Height();
    const size_t rowBytes = (size_t{image.BitCount()} * image.Width() + 7) / 8;
    const size_t stride = image.BytesPerRow();
    const size_t total = stride * rows;
    if (image.BitCount() == 24 && !topDown) {
        // The file's rows are the image's rows: read them in place, then clear the padding,
        // which the file may fill with anything.
        uint8_t* data = image.ImageData();
        pixels.CopyTo(data);
        for (size_t k = 0; k < rows && stride > rowBytes; ++k) {
            std::fill(data + k * stride + rowBytes, data + (k + 1) * stride, 0);
        }
        return;
    }
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(total);
    pixels.CopyTo(buffer.get());

    const bool reportRows = topDown || image.BitCount() != 24;
    for (uint32_t k = 0; k < rows; ++k) {
        if (reportRows) report(static_cast<uint32_t>(k * 100u) / rows);
        uint8_t* target = topDown ? image.RowData(k) : image.ImageData() + k * stride;
        std::copy_n(buffer.get() + k * stride, rowBytes, target);
    }
}

// Decodes RLE8 or RLE4 code by code, straight into the image, or, without an image, only checks
// every code as if it were stored. The row is top-based and starts at the bottom; 64 bits keep
// long runs of end-of-line and delta codes from wrapping it.
template <typename Report>
void ReadRunLength(std::istream& input, BitmapImage* image, uint32_t width, int64_t height,
                   bool rle4, Report& report) {
    const int64_t rows = AbsoluteHeight(height);
    int64_t row = height - 1;
    uint64_t column = 0;

    const auto readCode = [&input](std::span<uint8_t> bytes) {
        if (ReadSome(input, bytes) != bytes.size()) ThrowCorrupt();
    };
    // A code may write only inside the rows and up to the right edge.
    const auto rowFor = [&](uint32_t count) -> uint8_t* {
        if (row < 0 || row >= rows || column + count > width) ThrowCorrupt();
        return image != nullptr ? image->RowData(static_cast<uint32_t>(row)) : nullptr;
    };
    // RLE4 pixel x lives in byte x / 2, high nibble first; an even x clears the low nibble.
    const auto put = [rle4](uint8_t* rowData, uint64_t x, uint32_t pixel) {
        if (rowData == nullptr) return;
        if (!rle4) {
            rowData[x] = static_cast<uint8_t>(pixel);
        } else if (x % 2 == 0) {
            rowData[x / 2] = static_cast<uint8_t>(pixel << 4);
        } else {
            rowData[x / 2] = static_cast<uint8_t>(rowData[x / 2] | pixel);
        }
    };
    const auto nibble = [](uint32_t byte, uint32_t i) {
        return i % 2 == 0 ? byte >> 4 : byte & 15;
    };

    // The percentage is unsigned 32-bit arithmetic on the signed header height; a height of 0
    // reports 0 instead of dividing.
    const auto signedHeight = static_cast<uint32_t>(height);
    bool done = false;
    while (!done && !input.eof()) {
        const auto rowsDone = static_cast<uint32_t>(signedHeight - 1u - static_cast<uint32_t>(row));
        report(signedHeight == 0 ? 0u : static_cast<uint32_t>(rowsDone * 100u) / signedHeight);

        std::array<uint8_t, 2> code{};
        readCode(code);
        const uint32_t count = code[0];
        const uint32_t value = code[1];
        if (count > 0) {
            uint8_t* rowData = rowFor(count);
            for (uint32_t i = 0; i < count; ++i) {
                put(rowData, column + i, rle4 ? nibble(value, i) : value);
            }
            column += count;
        } else if (value == 0) {
            --row;
            column = 0;
        } else if (value == 1) {
            done = true;
        } else if (value == 2) {
            std::array<uint8_t, 2> delta{};
            readCode(delta);
            column += delta[0];
            row -= delta[1];
        } else {
            uint8_t* rowData = rowFor(value);
            // Absolute runs end on a 16-bit boundary, hence the pad byte.
            const size_t dataBytes = rle4 ? (value + 1) / 2 : value;
            const size_t padBytes = rle4 ? ((value % 4 == 1 || value % 4 == 2) ? 1 : 0) : value % 2;
            std::array<uint8_t, kMaxAbsoluteRunBytes> run{};
            readCode(std::span(run).first(dataBytes + padBytes));
            for (uint32_t i = 0; i < value; ++i) {
                put(rowData, column + i, rle4 ? nibble(run[i / 2], i) : run[i]);
            }
            column += value;
        }
    }
    if (!done) ThrowCorrupt();
}

}  // namespace

void BmpDecoder::CallProgressFunction(uint32_t percent) {
    if (ReportProgressPercent(percent)) throw EGraphicsAbort(messages::kAbort);
}

void BmpDecoder::ReadImage(std::istream& input, BitmapImage& image) {
    const BmpLayout layout = ReadHeaders(input);
    const uint32_t colorCount = CheckFormat(layout);
    CheckDimensions(layout);

    const std::vector<uint8_t> table = ReadColourTable(input, colorCount, layout.entryBytes);
    const uint64_t consumed = layout.consumed + uint64_t{colorCount} * layout.entryBytes;
    if (consumed > layout.pixelOffset) ThrowCorrupt();
    Skip(input, layout.pixelOffset - consumed);

    const uint32_t height = AbsoluteHeight(layout.height);
    const bool keepPixels = !trueColourOnly_ || layout.bitCount == 24;
    const bool uncompressed = layout.compression == kCompressionNone;
    const uint64_t paddedRow = ((uint64_t{layout.bitCount} * layout.width + 7) / 8 + 3) & ~3ull;
    std::optional<UncompressedPixels> pixels;
    if (uncompressed && keepPixels) pixels.emplace(input, paddedRow * height);
    image.SetSize(colorCount, layout.bitCount, keepPixels ? layout.width : 0,
                  keepPixels ? height : 0);
    FillColourMap(image, table, layout.entryBytes);

    auto report = [this](uint32_t percent) { CallProgressFunction(percent); };
    report(0);
    if (pixels) {
        // Rows of no bytes would only be counted off, one report each.
        if (paddedRow > 0 || HasProgressFunction()) {
            ReadUncompressed(*pixels, image, layout.height <= 0, report);
        }
    } else if (uncompressed) {
        // Checked as it would be read, stored nowhere.
        Skip(input, paddedRow * height);
    } else {
        ReadRunLength(input, keepPixels ? &image : nullptr, layout.width, layout.height,
                      layout.compression == kCompressionRle4, report);
    }
    report(100);
}

}  // namespace quenpix
