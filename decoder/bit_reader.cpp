// BitReader: the refill within the last bytes of a piece and of the stream.
#include "decoder/bit_reader.hpp"

namespace quenpix {

BitReader BitReader::RefilledNearEnd(BitReader reader) {
    while (reader.count_ <= kRefillBits) {
        while (reader.next_ == reader.end_ && reader.nextPiece_ < reader.pieces_.size()) {
            reader.bytesBefore_ += static_cast<uint64_t>(reader.end_ - reader.begin_);
            const std::span<const uint8_t> piece = reader.pieces_[reader.nextPiece_++];
            reader.begin_ = reader.next_ = piece.data();
            reader.end_ = piece.data() + piece.size();
        }
        uint64_t byte = 0;
        if (reader.next_ < reader.end_) {
            byte = *reader.next_++;
        } else if (++reader.padBytes_ >= 8) {
            throw EDecodeError(decode_messages::kStreamTruncated);
        }
        reader.buffer_ |= byte << reader.count_;
        reader.count_ += 8;
    }
    return reader;
}

}  // namespace quenpix
