// DecodeImageStream: chunks alternating on one thread, or handed between two through bounded
// queues.
#include "decoder/decode_pipeline.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <exception>
#include <optional>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "decoder/image_row_writer.hpp"
#include "decoder/image_stream_decoder.hpp"
#include "decoder/token_chunk.hpp"
#include "parallel/bounded_queue.hpp"
#include "parallel/cpu_pause.hpp"
#include "parallel/task_group.hpp"
#include "parallel/thread_count.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace quenpix {

namespace {

// Token chunks in circulation between the two threads: enough that neither waits on the other's
// small hiccups, few enough to stay in the cache.
constexpr size_t kChunksInFlight = 4;
// Finished rows are handed over in blocks of about this many bytes, at least one row each.
constexpr size_t kRowBlockBytes = size_t{1} << 17;
constexpr size_t kRowBlocksInFlight = 3;

// How long a thread waits awake for the other, in pauses, before it sleeps: about as long as
// a chunk takes. Waking a thread costs the waker more than such a wait, and a thread that
// slept takes long to start again; but waiting awake pays only with a CPU for each thread.
constexpr uint32_t kSpinsForAChunk = 4096;

// One round of a wait awake that is short by design; yields the CPU once the wait has lasted
// about a chunk, in case the thread waited for lost its CPU.
void PauseInWait(uint32_t round) noexcept {
    if (round >= kSpinsForAChunk) {
        std::this_thread::yield();
        return;
    }
    PauseCpu();
}

// Applies one chunk; throws the stream's fault once its tokens are done. Returns whether more
// chunks follow.
bool ApplyChunk(const TokenChunk& chunk, RawPlaneBuilder& plane,
                const std::function<void(uint32_t)>& progress) {
    plane.Apply(chunk.Tokens(), progress);
    if (chunk.failure) std::rethrow_exception(chunk.failure);
    return !chunk.last;
}

uint32_t DecodeOnOneThread(ImageStreamDecoder& stream, const ImageLayout& layout, RowTarget& target,
                           const std::function<void(uint32_t)>& progress) {
    ImageRowWriter rows(target, layout.width, layout.transform);
    RawPlaneBuilder plane(
        layout.width, layout.height, layout.predictor, Channels::kAll,
        [&rows](uint32_t row, const uint8_t* bytes) { rows.WriteRow(row, bytes); });
    TokenChunk chunk;
    do {
        stream.Fill(chunk);
    } while (ApplyChunk(chunk, plane, progress));
    return rows.Checksum();
}

// Thrown on the calling thread when the other thread has stopped on a failure of its own, which
// the task group has recorded and reports instead.
struct PipelineStopped {};

// Runs `second` on a thread of its own beside `first` on this one, each given the stop token
// that a failure of either triggers. The failure is thrown once both have ended.
template <class First, class Second>
void RunBeside(First&& first, Second&& second) {
    TaskGroup group;
    group.Run(std::forward<Second>(second));
    try {
        first(group.StopToken());
    } catch (const PipelineStopped&) {
        // The task group holds the failure that stopped the other thread.
    } catch (...) {
        group.Fail(std::current_exception());
    }
    group.Wait();
}

// Consecutive finished rows, copied out of the plane builder's window.
struct RowBlock {
    std::vector<uint8_t> bytes;
    uint32_t firstRow = 0;
    uint32_t rows = 0;
};

// Decoding on two threads with the median predictor, whose rebuilding is light: the second
// thread decodes the stream a few chunks ahead and writes the finished rows, which the calling
// thread rebuilds, copies out and hands over in blocks.
class RowWritingPipeline final {
  public:
    // `spins`: how long each thread waits awake for the other (BoundedQueue).
    RowWritingPipeline(ImageStreamDecoder& stream, const ImageLayout& layout, RowTarget& target,
                       uint32_t spins)
        : stream_(stream),
          layout_(layout),
          target_(target),
          rowBytes_(size_t{RawPlaneBuilder::kChannels} * layout.width),
          rowsPerBlock_(std::max<size_t>(1, kRowBlockBytes / rowBytes_)),
          work_(kChunksInFlight + kRowBlocksInFlight, spins),
          filled_(kChunksInFlight, spins),
          spareRows_(kRowBlocksInFlight, spins) {
        for (size_t i = 0; i < kChunksInFlight; ++i)
            work_.Push(TokenChunk{}, {});
        for (size_t i = 0; i < kRowBlocksInFlight; ++i)
            spareRows_.Push(RowBlock{std::vector<uint8_t>(rowsPerBlock_ * rowBytes_)}, {});
    }

    // Returns the checksum of the raw plane.
    uint32_t Run(const std::function<void(uint32_t)>& progress) {
        RunBeside([&](const std::stop_token& stop) { RebuildPixels(stop, progress); },
                  [this](std::stop_token stop) { SecondThread(stop); });
        return rows_.value().Checksum();
    }

  private:
    // Its work comes through one queue, in order: chunks to fill with tokens, and blocks of rows
    // to write.
    using Work = std::variant<TokenChunk, RowBlock>;

    void SecondThread(const std::stop_token& stop) {
        for (;;) {
            std::optional<Work> next = work_.Pop(stop);
            if (!next) return;
            if (TokenChunk* chunk = std::get_if<TokenChunk>(&*next)) {
                stream_.Fill(*chunk);
                if (!filled_.Push(std::move(*chunk), stop)) return;
                continue;
            }
            RowBlock& block = std::get<RowBlock>(*next);
            WriteRows(block);
            if (!spareRows_.Push(std::move(block), stop)) return;
        }
    }

    // On the second thread: the rows go to the target from there.
    void WriteRows(RowBlock& block) {
        if (!rows_) rows_.emplace(target_, layout_.width, layout_.transform);
        for (uint32_t i = 0; i < block.rows; ++i)
            rows_->WriteRow(block.firstRow + i, block.bytes.data() + i * rowBytes_);
    }

    // On the calling thread: every chunk in turn, its finished rows handed over in blocks.
    void RebuildPixels(const std::stop_token& stop, const std::function<void(uint32_t)>& progress) {
        std::optional<RowBlock> block = spareRows_.Pop(stop);
        const auto handOver = [&] {
            if (!work_.Push(std::move(*block), stop)) throw PipelineStopped{};
            block = spareRows_.Pop(stop);
            if (!block) throw PipelineStopped{};
            block->rows = 0;
        };
        RawPlaneBuilder plane(layout_.width, layout_.height, layout_.predictor, Channels::kAll,
                              [&](uint32_t row, const uint8_t* bytes) {
                                  if (block->rows == 0) block->firstRow = row;
                                  std::memcpy(block->bytes.data() + block->rows * rowBytes_, bytes,
                                              rowBytes_);
                                  if (++block->rows == rowsPerBlock_) handOver();
                              });
        for (;;) {
            // Nothing comes only when the other thread has stopped on a failure of its own.
            std::optional<TokenChunk> chunk = filled_.Pop(stop);
            if (!chunk) throw PipelineStopped{};
            if (!ApplyChunk(*chunk, plane, progress)) break;
            if (!work_.Push(std::move(*chunk), stop)) throw PipelineStopped{};
        }
        if (block->rows != 0 && !work_.Push(std::move(*block), stop)) throw PipelineStopped{};
        work_.Close();
    }

    ImageStreamDecoder& stream_;
    const ImageLayout& layout_;
    RowTarget& target_;
    const size_t rowBytes_;
    const size_t rowsPerBlock_;
    BoundedQueue<Work> work_;
    BoundedQueue<TokenChunk> filled_;
    BoundedQueue<RowBlock> spareRows_;
    // Made and used on the second thread; the calling thread reads the checksum after joining.
    std::optional<ImageRowWriter> rows_;
};

constexpr size_t kPixelBytes = RawPlaneBuilder::kChannels;

// Red and green of the pixels from `from` on, from `redGreen`, two bytes a pixel, and blue from
// `blue`, one byte a pixel.
void MergeBluePixels(const uint8_t* redGreen, const uint8_t* blue, size_t from, size_t pixels,
                     uint8_t* out) noexcept {
    for (size_t i = from; i < pixels; ++i) {
        out[kPixelBytes * i] = redGreen[2 * i];
        out[kPixelBytes * i + 1] = redGreen[2 * i + 1];
        out[kPixelBytes * i + 2] = blue[i];
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
constexpr size_t kMergeStep = 16;  // pixels: 32 red and green bytes, 16 blue, 48 out

// For each 16-byte piece of the 48 bytes out, one byte shuffle of each source: the first and
// the second 16 red and green bytes, and the 16 blue bytes. An entry of -128 gives 0, so the
// three shuffles are or-ed.
constexpr auto kMergeShuffles = [] {
    std::array<std::array<std::array<int8_t, kMergeStep>, 3>, kPixelBytes> shuffles{};
    for (size_t piece = 0; piece < kPixelBytes; ++piece) {
        for (size_t k = 0; k < kMergeStep; ++k) {
            const size_t at = piece * kMergeStep + k;
            const size_t pixel = at / kPixelBytes;
            const size_t channel = at % kPixelBytes;
            const size_t redGreenAt = 2 * pixel + channel;
            const size_t source = channel == 2 ? 2 : redGreenAt / kMergeStep;
            const size_t byte = channel == 2 ? pixel : redGreenAt % kMergeStep;
            for (size_t from = 0; from < 3; ++from)
                shuffles[piece][from][k] = from == source ? static_cast<int8_t>(byte) : -128;
        }
    }
    return shuffles;
}();

__attribute__((target("ssse3"))) inline __m128i Load16(const void* bytes) noexcept {
    return _mm_loadu_si128(static_cast<const __m128i*>(bytes));
}

__attribute__((target("ssse3"))) void MergeBlueSsse3(const uint8_t* redGreen, const uint8_t* blue,
                                                     size_t pixels, uint8_t* out) noexcept {
    size_t i = 0;
    for (; i + kMergeStep <= pixels; i += kMergeStep) {
        const __m128i first = Load16(redGreen + 2 * i);
        const __m128i second = Load16(redGreen + 2 * i + kMergeStep);
        const __m128i b = Load16(blue + i);
        for (size_t piece = 0; piece < kPixelBytes; ++piece) {
            const auto& shuffle = kMergeShuffles[piece];
            const __m128i merged =
                _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(first, Load16(shuffle[0].data())),
                                          _mm_shuffle_epi8(second, Load16(shuffle[1].data()))),
                             _mm_shuffle_epi8(b, Load16(shuffle[2].data())));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kPixelBytes * i + piece * kMergeStep),
                             merged);
        }
    }
    MergeBluePixels(redGreen, blue, i, pixels, out);
}

bool HasSsse3() noexcept {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

// A row of the plane from the red and green of `redGreen`, two bytes a pixel, and the blue of
// `blue`, one byte a pixel.
void MergeBlue(const uint8_t* redGreen, const uint8_t* blue, size_t pixels, uint8_t* out) noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    if (HasSsse3()) {
        MergeBlueSsse3(redGreen, blue, pixels, out);
        return;
    }
#endif
    MergeBluePixels(redGreen, blue, 0, pixels, out);
}

// A chunk of tokens with the blue rows they finished, one byte a pixel, copied out of the blue
// builder's window. Both circulate between the two threads, so their memory is reused.
struct BlueChunk {
    TokenChunk chunk;
    std::vector<uint8_t> blueRows;
};

// Decoding on two threads with the context model, whose rebuilding is the heaviest part: the
// second thread decodes the stream and rebuilds the blue channel of each chunk; the calling
// thread rebuilds red and green and writes the finished rows. Each chunk comes with the blue
// rows it finished, and the calling thread's red and green finish the same rows with the same
// chunk, so their blue rows are always there.
// While the second thread rebuilds a chunk's blue, the calling thread, when it has nothing to
// rebuild, decodes the next chunk in its place. The stream's decoding, about two fifths of the
// second thread's work, so goes to whichever thread has time, and the two stay even where one
// CPU runs slower than the other.
class ChannelSplitPipeline final {
  public:
    // `spins`: how long each thread waits awake for the other (BoundedQueue).
    ChannelSplitPipeline(ImageStreamDecoder& stream, const ImageLayout& layout, RowTarget& target,
                         uint32_t spins)
        : stream_(stream),
          layout_(layout),
          target_(target),
          rowBytes_(size_t{RawPlaneBuilder::kChannels} * layout.width),
          work_(kChunksInFlight, spins),
          filled_(kChunksInFlight, spins),
          // Only with a CPU for each thread: the second waits awake for a chunk the calling
          // thread decodes.
          shareDecoding_(spins != 0),
          blue_(layout.width, layout.height, layout.predictor, Channels::kBlue,
                [this](uint32_t, const uint8_t* bytes) {
                    blueRows_->insert(blueRows_->end(), bytes, bytes + layout_.width);
                }) {
        for (size_t i = 0; i < kChunksInFlight; ++i)
            work_.Push(BlueChunk{}, {});
    }

    // Returns the checksum of the raw plane.
    uint32_t Run(const std::function<void(uint32_t)>& progress) {
        uint32_t checksum = 0;
        RunBeside([&](const std::stop_token& stop) { checksum = RebuildPixels(stop, progress); },
                  [this](std::stop_token stop) { SecondThread(stop); });
        return checksum;
    }

  private:
    // Who decodes the chunk after the one whose blue the second thread rebuilds: open while
    // that blue is rebuilt, taken by the calling thread until it has decoded it, closed when
    // the second thread decodes it or has taken it over.
    enum NextChunk : uint32_t { kClosed, kOpen, kTaken, kDecoded };

    void SecondThread(const std::stop_token& stop) {
        const std::function<void(uint32_t)> noProgress = [](uint32_t) {};
        std::optional<BlueChunk> chunk = DecodeNext(stop);
        while (chunk) {
            const bool last = chunk->chunk.last;
            if (!last && shareDecoding_) next_.store(kOpen, std::memory_order_release);
            chunk->blueRows.clear();
            blueRows_ = &chunk->blueRows;
            // The tokens before a fault, as on the calling thread; the fault is thrown there.
            blue_.Apply(chunk->chunk.Tokens(), noProgress);
            if (!filled_.Push(std::move(*chunk), stop) || last) return;
            chunk = TakeNext(stop);
        }
    }

    // On the second thread: the next chunk, decoded here unless the calling thread took it.
    std::optional<BlueChunk> TakeNext(const std::stop_token& stop) {
        auto open = kOpen;
        if (!shareDecoding_ ||
            next_.compare_exchange_strong(open, kClosed, std::memory_order_acq_rel)) {
            return DecodeNext(stop);
        }
        for (uint32_t round = 0; next_.load(std::memory_order_acquire) != kDecoded; ++round) {
            if (stop.stop_requested()) return std::nullopt;
            PauseInWait(round);
        }
        std::optional<BlueChunk> chunk = std::move(decodedAhead_);
        decodedAhead_.reset();
        next_.store(kClosed, std::memory_order_relaxed);
        return chunk;
    }

    std::optional<BlueChunk> DecodeNext(const std::stop_token& stop) {
        std::optional<BlueChunk> chunk = work_.Pop(stop);
        if (chunk) stream_.Fill(chunk->chunk);
        return chunk;
    }

    // On the calling thread, which has nothing to rebuild: decodes the next chunk unless the
    // second thread has begun it or no chunk is spare.
    void DecodeAhead() {
        if (next_.load(std::memory_order_relaxed) != kOpen) return;
        std::optional<BlueChunk> spare = work_.TryPop();
        if (!spare) return;
        auto open = kOpen;
        if (!next_.compare_exchange_strong(open, kTaken, std::memory_order_acq_rel)) {
            // It goes back where it came from, which has room: every chunk circulates there.
            (void)work_.Push(std::move(*spare), {});
            return;
        }
        stream_.Fill(spare->chunk);
        decodedAhead_ = std::move(spare);
        next_.store(kDecoded, std::memory_order_release);
    }

    // On the calling thread: every chunk in turn, each finished row written as it comes.
    uint32_t RebuildPixels(const std::stop_token& stop,
                           const std::function<void(uint32_t)>& progress) {
        ImageRowWriter rows(target_, layout_.width, layout_.transform);
        std::vector<uint8_t> merged(rowBytes_);
        const uint8_t* blueRow = nullptr;
        const auto writeRow = [&](uint32_t row, const uint8_t* bytes) {
            MergeBlue(bytes, blueRow, layout_.width, merged.data());
            blueRow += layout_.width;
            rows.WriteRow(row, merged.data());
        };
        RawPlaneBuilder plane(layout_.width, layout_.height, layout_.predictor, Channels::kRedGreen,
                              writeRow);
        for (;;) {
            std::optional<BlueChunk> filled = filled_.TryPop();
            if (!filled && shareDecoding_) {
                DecodeAhead();
                filled = filled_.TryPop();
            }
            // Nothing comes only when the other thread has stopped on a failure of its own.
            if (!filled) filled = filled_.Pop(stop);
            if (!filled) throw PipelineStopped{};
            blueRow = filled->blueRows.data();
            if (!ApplyChunk(filled->chunk, plane, progress)) break;
            if (!work_.Push(std::move(*filled), stop)) throw PipelineStopped{};
        }
        work_.Close();
        return rows.Checksum();
    }

    ImageStreamDecoder& stream_;
    const ImageLayout& layout_;
    RowTarget& target_;
    const size_t rowBytes_;
    BoundedQueue<BlueChunk> work_;
    BoundedQueue<BlueChunk> filled_;
    const bool shareDecoding_;
    std::atomic<NextChunk> next_{kClosed};
    // Handed from the calling thread to the second by next_ turning kDecoded.
    std::optional<BlueChunk> decodedAhead_;
    // Used on the second thread: the blue builder, and where the rows it finishes go.
    RawPlaneBuilder blue_;
    std::vector<uint8_t>* blueRows_ = nullptr;
};

}  // namespace

uint32_t DecodeImageStream(ImageStreamDecoder& stream, const ImageLayout& layout, RowTarget& target,
                           uint32_t threads, const std::function<void(uint32_t)>& progress) {
    if (threads < 2) return DecodeOnOneThread(stream, layout, target, progress);
    const uint32_t spins = AvailableThreads() >= 2 ? kSpinsForAChunk : 0;
    if (layout.predictor == Predictor::kMed) {
        return RowWritingPipeline(stream, layout, target, spins).Run(progress);
    }
    return ChannelSplitPipeline(stream, layout, target, spins).Run(progress);
}

}  // namespace quenpix
