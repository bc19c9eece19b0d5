// SideFileBuffer: header, box minima, the 3-bit width table and the raw offset bits.
#include "colourbox/side_file.hpp"

#include <cassert>
#include <cstddef>

namespace quenpix {
namespace {

constexpr uint32_t kWidthFieldBits = 3;
// Per box: three minimum bytes and three width fields.
constexpr uint64_t kBoxTableBits = 3 * 8 + 3 * kWidthFieldBits;
// The zero byte and the 16-bit box count.
constexpr uint64_t kHeaderBytes = 3;
constexpr uint64_t kSpareBytes = 4;

}  // namespace

void SideFileBuffer::BuildSideFile(const ColourBoxTable& table) {
    const uint32_t boxCount = table.boxCount;
    // 64-bit throughout: the offset bits of a very large image overflow 32-bit sizes.
    const uint64_t size =
        ((boxCount * kBoxTableBits + 7) >> 3) + ((table.offsetBitCount + 7) >> 3) + kHeaderBytes;
    // Spare bytes: a field ending exactly on the last byte boundary still assigns the next, and
    // a wide field stores four whole bytes. Earlier contents are not cleared; every byte is
    // assigned before it is filled.
    data_.resize(static_cast<size_t>(size + kSpareBytes));

    data_[0] = 0;
    data_[1] = static_cast<uint8_t>(boxCount);
    data_[2] = static_cast<uint8_t>(boxCount >> 8);
    for (uint32_t k = 0; k < boxCount; ++k) {
        for (size_t c = 0; c < 3; ++c)
            data_[kHeaderBytes + 3 * k + c] = table.minimum[c][k];
    }

    bytePosition_ = static_cast<int64_t>(kHeaderBytes + uint64_t{3} * boxCount);
    bitPosition_ = 0;
    data_[static_cast<size_t>(bytePosition_)] = 0;
    for (uint32_t k = 0; k < boxCount; ++k) {
        for (size_t c = 0; c < 3; ++c)
            PutBits(table.width[c][k], kWidthFieldBits);
    }
}

void SideFileBuffer::PutBits(uint32_t value, uint32_t n) noexcept {
    n &= 0xFF;
    if (n == 0) return;
    assert(n <= 8 && static_cast<size_t>(bytePosition_) < data_.size());
    const uint32_t free = 8u - bitPosition_;
    if (n < free) {
        data_[static_cast<size_t>(bytePosition_)] |= static_cast<uint8_t>(value << (free - n));
        bitPosition_ = static_cast<uint8_t>(bitPosition_ + n);
        return;
    }
    data_[static_cast<size_t>(bytePosition_)] |= static_cast<uint8_t>((value & 0xFF) >> (n - free));
    ++bytePosition_;
    bitPosition_ = static_cast<uint8_t>(n - free);
    assert(static_cast<size_t>(bytePosition_) < data_.size());
    // Assigned, not OR-ed: entering a byte is what clears it, so the buffer needs no clearing.
    data_[static_cast<size_t>(bytePosition_)] = static_cast<uint8_t>(value << (8 - bitPosition_));
}

void SideFileBuffer::StartPart(uint64_t bits) {
    data_.resize(static_cast<size_t>((bits + 7) / 8 + kSpareBytes));
    bytePosition_ = 0;
    bitPosition_ = 0;
}

void SideFileBuffer::AppendPart(const SideFileBuffer& part) noexcept {
    FieldPacker out(*this);
    const uint8_t* bytes = part.data_.data();
    // Three bytes at a time; the spare bytes after the part cover the last read.
    uint64_t bits = uint64_t{static_cast<uint64_t>(part.bytePosition_)} * 8 + part.bitPosition_;
    for (; bits >= 24; bits -= 24, bytes += 3)
        out.Put(uint32_t{bytes[0]} << 16 | uint32_t{bytes[1]} << 8 | bytes[2], 24);
    if (bits > 0) {
        const uint32_t rest = uint32_t{bytes[0]} << 16 | uint32_t{bytes[1]} << 8 | bytes[2];
        out.Put(rest >> (24 - bits), static_cast<uint32_t>(bits));
    }
    out.Commit();
}

std::span<const uint8_t> SideFileBuffer::Contents() const noexcept {
    if (data_.empty()) return {};
    // A byte with no bit used yet is not part of the file.
    const size_t length = static_cast<size_t>(bytePosition_) + (bitPosition_ != 0 ? 1 : 0);
    return {data_.data(), length};
}

void SideFileBuffer::FreeSideFile() noexcept {
    std::vector<uint8_t>().swap(data_);
    bytePosition_ = 0;
    bitPosition_ = 0;
}

}  // namespace quenpix
