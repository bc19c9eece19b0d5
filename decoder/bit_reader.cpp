// BitReader: the refill within the last bytes of the stream.
#include "decoder/bit_reader.hpp"

namespace quenpix {

BitReader BitReader::RefilledNearEnd(BitReader reader) {
    while (reader.count_ <= kRefillBits) {
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
