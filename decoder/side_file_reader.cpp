// SideFileReader: header, box table and the bit stream of offsets.
#include "decoder/side_file_reader.hpp"

namespace quenpix {

namespace {

constexpr size_t kHeaderBytes = 3;
constexpr uint32_t kWidthFieldBits = 3;

}  // namespace

SideFileReader::SideFileReader(std::span<const uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes) throw EDecodeError(decode_messages::kSideFileNoHeader);
    if (bytes[0] != 0) throw EDecodeError(decode_messages::kSideFileBadFirstByte);
    boxCount_ = uint32_t{bytes[1]} | uint32_t{bytes[2]} << 8;
    if (boxCount_ == 0 || boxCount_ > kMaxBoxes) {
        throw EDecodeError(decode_messages::kSideFileBadBoxCount);
    }
    const size_t minimaEnd = kHeaderBytes + size_t{3} * boxCount_;
    if (bytes.size() < minimaEnd) throw EDecodeError(decode_messages::kSideFileNoHeader);
    for (uint32_t k = 0; k < boxCount_; ++k) {
        for (size_t c = 0; c < 3; ++c) {
            boxes_[k].minimum[c] = bytes[kHeaderBytes + 3 * k + c];
            boxes_[k].packedMinimum |= uint32_t{boxes_[k].minimum[c]} << (8 * c);
        }
    }

    offsets_ = Cursor(bytes.subspan(minimaEnd));
    for (uint32_t k = 0; k < boxCount_; ++k) {
        Box& box = boxes_[k];
        for (size_t c = 0; c < 3; ++c)
            box.width[c] = static_cast<uint8_t>(offsets_.ReadBits(kWidthFieldBits));
        box.totalWidth = box.width[0] + box.width[1] + box.width[2];
        box.shift0 = box.width[1] + box.width[2];
        box.shift1 = box.width[2];
        box.mask1 = (1u << box.width[1]) - 1;
        box.mask2 = (1u << box.width[2]) - 1;
    }
}

void SideFileReader::CheckFullyRead() const {
    // Whole bytes still unread after the byte holding the last bit: the padding of that byte
    // is at most 7 bits.
    if (offsets_.BitsLeft() >= 8) throw EDecodeError(decode_messages::kSideFileTooLong);
}

}  // namespace quenpix
