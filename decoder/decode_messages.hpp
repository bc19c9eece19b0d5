// The fixed texts of the decoder's failures, shared by the throw sites and the tests.
#pragma once

namespace quenpix::decode_messages {

inline constexpr const char* kNoSignature = "Not a Quenpix file: the signature is missing";
inline constexpr const char* kChunkTruncated = "Chunk runs past the end of the file";
inline constexpr const char* kChunkTooLong = "Chunk length exceeds 2^31 - 1 bytes";
inline constexpr const char* kCrcMismatch = "CRC mismatch in chunk ";
inline constexpr const char* kFirstChunkNotIhdr = "The first chunk is not IHDR";
inline constexpr const char* kUnknownChunk = "Unknown chunk ";
inline constexpr const char* kChunkOutOfOrder = "Chunk out of order: ";
inline constexpr const char* kDuplicateChunk = "Chunk appears twice: ";
inline constexpr const char* kBadChunkLength = "Wrong data length in chunk ";
inline constexpr const char* kNoIdat = "The file has no IDAT chunk";
inline constexpr const char* kNoIend = "The file ends without an IEND chunk";
inline constexpr const char* kDataAfterIend = "Data after the IEND chunk";
inline constexpr const char* kBadBitDepth = "IHDR: bit depth is not 8";
inline constexpr const char* kBadColourType = "IHDR: colour type is not 2 (true colour)";
inline constexpr const char* kBadCompressionMethod = "IHDR: compression method is not 1";
inline constexpr const char* kBadFilterMethod = "IHDR: filter method is not 0";
inline constexpr const char* kBadInterlaceMethod = "IHDR: interlace method is not 0";
inline constexpr const char* kEmptyImage = "IHDR: the image has no pixels";
inline constexpr const char* kBadTransformChannel = "cmOd names channel 3; channels are 0 to 2";
inline constexpr const char* kImageTooLarge = "Image too large to hold: ";
inline constexpr const char* kMorePixelsThanData =
    "IHDR declares more pixels than the image data can hold: ";
inline constexpr const char* kOneWideNeedsMed =
    "Image one pixel wide without ncPr: the context model cannot be decoded there";

inline constexpr const char* kStreamTruncated = "The image stream is truncated";
inline constexpr const char* kBadStreamMethod = "Image stream header: compression method is not 8";
inline constexpr const char* kBadStreamCheck = "Image stream header: check bits are wrong";
inline constexpr const char* kPresetDictionary = "Image stream header asks for a preset dictionary";
inline constexpr const char* kBadBlockType =
    "Block type is not dynamic Huffman (the only one used)";
inline constexpr const char* kTooManyLengthCodes =
    "Block header: more than 286 literal/length codes";
inline constexpr const char* kTooManyDistanceCodes = "Block header: more than 30 distance codes";
inline constexpr const char* kRepeatWithoutLength = "Code length repeat with no previous length";
inline constexpr const char* kRunPastTable = "Code-length run runs past the end of its table";
inline constexpr const char* kNoEndOfBlock = "Literal/length code has no end-of-block code";
inline constexpr const char* kInvalidCodeLengthCode = "Code-length code is not a valid prefix code";
inline constexpr const char* kInvalidLiteralCode = "Literal/length code is not a valid prefix code";
inline constexpr const char* kInvalidDistanceCode = "Distance code is not a valid prefix code";
inline constexpr const char* kUnassignedCode = "The image stream holds a bit pattern with no code";
inline constexpr const char* kBadLengthSymbol = "Invalid length symbol 286 or 287";
inline constexpr const char* kBadDistanceSymbol = "Invalid distance symbol 30 or 31";
inline constexpr const char* kBoxOutOfRange =
    "A literal names a colour box the side file does not hold";
inline constexpr const char* kPixelPastEnd = "A literal pixel lies past the last pixel";
inline constexpr const char* kMatchPastEnd = "A match runs past the last pixel";
inline constexpr const char* kDistanceBeforeStart =
    "A match distance reaches before the first pixel";
inline constexpr const char* kStreamEndsEarly = "The image stream ends before the last pixel";
inline constexpr const char* kChecksumMismatch = "Image checksum (Adler-32) mismatch";
inline constexpr const char* kDataAfterStream = "Data after the end of the image stream";

inline constexpr const char* kSideFileNoHeader = "Side file too short: no box table";
inline constexpr const char* kSideFileBadFirstByte = "Side file does not start with a zero byte";
inline constexpr const char* kSideFileBadBoxCount = "Side file box count is not 1 to 256";
inline constexpr const char* kSideFileTooShort = "Side file too short";
inline constexpr const char* kSideFileTooLong = "Side file too long";

}  // namespace quenpix::decode_messages
