// DecodeTokens: chunks alternating on one thread, or handed between two through bounded queues.
#include "decoder/decode_pipeline.hpp"

#include <exception>
#include <optional>

#include "decoder/image_stream_decoder.hpp"
#include "decoder/raw_plane_builder.hpp"
#include "decoder/token_chunk.hpp"
#include "parallel/bounded_queue.hpp"
#include "parallel/task_group.hpp"

namespace quenpix {

namespace {

// Chunks in circulation between the two threads: enough that neither waits on the other's
// small hiccups, few enough to stay in the cache.
constexpr size_t kChunksInFlight = 4;

// Applies one chunk; throws the stream's fault once its tokens are done. Returns whether more
// chunks follow.
bool ApplyChunk(const TokenChunk& chunk, RawPlaneBuilder& plane,
                const std::function<void(uint32_t)>& progress) {
    plane.Apply(chunk.Tokens(), progress);
    if (chunk.failure) std::rethrow_exception(chunk.failure);
    return !chunk.last;
}

}  // namespace

void DecodeTokens(ImageStreamDecoder& stream, RawPlaneBuilder& plane, uint32_t threads,
                  const std::function<void(uint32_t)>& progress) {
    if (threads < 2) {
        TokenChunk chunk;
        do {
            stream.Fill(chunk);
        } while (ApplyChunk(chunk, plane, progress));
        return;
    }

    BoundedQueue<TokenChunk> filled(kChunksInFlight);
    BoundedQueue<TokenChunk> spare(kChunksInFlight);
    for (size_t i = 0; i < kChunksInFlight; ++i)
        spare.Push(TokenChunk{}, {});
    // Declared after the queues, so that its thread is joined before they go.
    TaskGroup group;
    group.Run([&stream, &filled, &spare](std::stop_token stop) {
        for (;;) {
            std::optional<TokenChunk> chunk = spare.Pop(stop);
            if (!chunk) return;
            stream.Fill(*chunk);
            const bool last = chunk->last;
            if (!filled.Push(std::move(*chunk), stop) || last) return;
        }
    });
    try {
        const std::stop_token stop = group.StopToken();
        for (;;) {
            // Nothing comes only when the stream's thread has stopped on a failure of its own,
            // which Wait() reports.
            std::optional<TokenChunk> chunk = filled.Pop(stop);
            if (!chunk || !ApplyChunk(*chunk, plane, progress)) break;
            spare.Push(std::move(*chunk), stop);
        }
    } catch (...) {
        group.Fail(std::current_exception());
    }
    group.Wait();
}

}  // namespace quenpix
