// DecodeImageStream: chunks alternating on one thread, or handed between two through bounded
// queues.
#include "decoder/decode_pipeline.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <variant>
#include <vector>

#include "decoder/image_row_writer.hpp"
#include "decoder/image_stream_decoder.hpp"
#include "decoder/token_chunk.hpp"
#include "image/bitmap_image.hpp"
#include "parallel/bounded_queue.hpp"
#include "parallel/task_group.hpp"

namespace quenpix {

namespace {

// Token chunks in circulation between the two threads: enough that neither waits on the other's
// small hiccups, few enough to stay in the cache.
constexpr size_t kChunksInFlight = 4;
// Finished rows are handed over in blocks of about this many bytes, at least one row each.
constexpr size_t kRowBlockBytes = size_t{1} << 17;
constexpr size_t kRowBlocksInFlight = 3;

void PrepareImage(const ImageLayout& layout, BitmapImage& image) {
    image.SetSize(0, 24, layout.width, layout.height);
}

// Applies one chunk; throws the stream's fault once its tokens are done. Returns whether more
// chunks follow.
bool ApplyChunk(const TokenChunk& chunk, RawPlaneBuilder& plane,
                const std::function<void(uint32_t)>& progress) {
    plane.Apply(chunk.Tokens(), progress);
    if (chunk.failure) std::rethrow_exception(chunk.failure);
    return !chunk.last;
}

uint32_t DecodeOnOneThread(ImageStreamDecoder& stream, const ImageLayout& layout,
                           BitmapImage& image, const std::function<void(uint32_t)>& progress) {
    PrepareImage(layout, image);
    ImageRowWriter rows(image, layout.transform);
    RawPlaneBuilder plane(
        layout.width, layout.height, layout.predictor,
        [&rows](uint32_t row, const uint8_t* bytes) { rows.WriteRow(row, bytes); });
    TokenChunk chunk;
    do {
        stream.Fill(chunk);
    } while (ApplyChunk(chunk, plane, progress));
    return rows.Checksum();
}

// Consecutive finished rows, copied out of the plane builder's window.
struct RowBlock {
    std::vector<uint8_t> bytes;
    uint32_t firstRow = 0;
    uint32_t rows = 0;
};

// Thrown on the calling thread when the other thread has stopped on a failure of its own, which
// the task group has recorded and reports instead.
struct PipelineStopped {};

uint32_t DecodeOnTwoThreads(ImageStreamDecoder& stream, const ImageLayout& layout,
                            BitmapImage& image, const std::function<void(uint32_t)>& progress) {
    const size_t rowBytes = size_t{RawPlaneBuilder::kChannels} * layout.width;
    const size_t rowsPerBlock = std::max<size_t>(1, kRowBlockBytes / rowBytes);

    // The second thread's work comes through one queue, in order: chunks to fill with tokens,
    // and blocks of rows to write.
    using Work = std::variant<TokenChunk, RowBlock>;
    BoundedQueue<Work> work(kChunksInFlight + kRowBlocksInFlight);
    BoundedQueue<TokenChunk> filled(kChunksInFlight);
    BoundedQueue<RowBlock> spareRows(kRowBlocksInFlight);
    for (size_t i = 0; i < kChunksInFlight; ++i)
        work.Push(TokenChunk{}, {});
    for (size_t i = 0; i < kRowBlocksInFlight; ++i)
        spareRows.Push(RowBlock{std::vector<uint8_t>(rowsPerBlock * rowBytes)}, {});
    // The image is sized and written on the second thread, the checksum taken there too; the
    // calling thread reads it only after joining.
    std::optional<ImageRowWriter> rows;

    // Declared after everything it uses, so that its thread is joined before they go.
    TaskGroup group;
    group.Run([&](std::stop_token stop) {
        for (;;) {
            std::optional<Work> next = work.Pop(stop);
            if (!next) return;
            if (TokenChunk* chunk = std::get_if<TokenChunk>(&*next)) {
                stream.Fill(*chunk);
                if (!filled.Push(std::move(*chunk), stop)) return;
                continue;
            }
            RowBlock& block = std::get<RowBlock>(*next);
            if (!rows) {
                PrepareImage(layout, image);
                rows.emplace(image, layout.transform);
            }
            for (uint32_t i = 0; i < block.rows; ++i)
                rows->WriteRow(block.firstRow + i, block.bytes.data() + i * rowBytes);
            if (!spareRows.Push(std::move(block), stop)) return;
        }
    });

    try {
        const std::stop_token stop = group.StopToken();
        std::optional<RowBlock> block = spareRows.Pop(stop);
        const auto handOver = [&] {
            if (!work.Push(std::move(*block), stop)) throw PipelineStopped{};
            block = spareRows.Pop(stop);
            if (!block) throw PipelineStopped{};
            block->rows = 0;
        };
        RawPlaneBuilder plane(
            layout.width, layout.height, layout.predictor, [&](uint32_t row, const uint8_t* bytes) {
                if (block->rows == 0) block->firstRow = row;
                std::memcpy(block->bytes.data() + block->rows * rowBytes, bytes, rowBytes);
                if (++block->rows == rowsPerBlock) handOver();
            });
        for (;;) {
            // Nothing comes only when the other thread has stopped on a failure of its own.
            std::optional<TokenChunk> chunk = filled.Pop(stop);
            if (!chunk) throw PipelineStopped{};
            if (!ApplyChunk(*chunk, plane, progress)) break;
            if (!work.Push(std::move(*chunk), stop)) throw PipelineStopped{};
        }
        if (block->rows != 0 && !work.Push(std::move(*block), stop)) throw PipelineStopped{};
        work.Close();
    } catch (const PipelineStopped&) {
        // The task group holds the failure that stopped the other thread.
    } catch (...) {
        group.Fail(std::current_exception());
    }
    group.Wait();
    return rows.value().Checksum();
}

}  // namespace

uint32_t DecodeImageStream(ImageStreamDecoder& stream, const ImageLayout& layout,
                           BitmapImage& image, uint32_t threads,
                           const std::function<void(uint32_t)>& progress) {
    return threads < 2 ? DecodeOnOneThread(stream, layout, image, progress)
                       : DecodeOnTwoThreads(stream, layout, image, progress);
}

}  // namespace quenpix
