// DecodeTokens: the stream decoder and the plane builder over a whole stream, on one or two
// threads.
#pragma once

#include <cstdint>
#include <functional>

namespace quenpix {

class ImageStreamDecoder;
class RawPlaneBuilder;

// Decodes the stream into tokens and rebuilds the plane from them, a chunk at a time. With one
// thread the two alternate on the calling thread; with more, the stream is decoded a few chunks
// ahead on a thread of its own while the calling thread rebuilds the pixels (only the two stages
// run at once, so more threads change nothing). `progress` is called on the calling thread.
// Either way every token before the stream's first fault is applied, then the fault is thrown,
// and no thread outlives the call.
void DecodeTokens(ImageStreamDecoder& stream, RawPlaneBuilder& plane, uint32_t threads,
                  const std::function<void(uint32_t)>& progress);

}  // namespace quenpix
