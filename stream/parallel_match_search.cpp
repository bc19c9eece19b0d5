// The match search split into stretches of the image that threads search side by side, with
// the very tokens of the walk from the image's start.
#include "stream/parallel_match_search.hpp"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

#include "parallel/task_group.hpp"

namespace quenpix {

namespace {

constexpr uint32_t kNoStretch = 0xFFFFFFFF;
// Enough stretches that the threads finish close together: a thread that runs into another's
// work starts afresh on open stretches, so at the end they wait at most a short stretch for
// each other. Going on into the next stretch costs nothing; only a fresh start inserts a window.
constexpr uint32_t kMinStretchCount = 64;
constexpr uint32_t kStretchesPerThread = 8;
// A fresh start inserts the window before it; no stretch is shorter, so that it never costs
// more than the stretch itself.
constexpr uint32_t kMinStretchPixels = kWindowPixels;
// Words a path writes between two reports of how far it has come, for a tail that waits on it.
constexpr uint32_t kReportWords = 4096;

// One stretch of the image and the path of token starts that its owner followed through it.
struct Stretch {
    uint32_t start = 0;  // byte positions
    uint32_t end = 0;
    // Set when the stretch is claimed: where its path starts (its start, or the position where
    // the thread of an earlier stretch took it over) and room for the path's tokens, at most
    // two words per pixel up to the end.
    uint32_t pathStart = 0;
    std::unique_ptr<uint16_t[]> tokens;
    uint32_t tokenCount = 0;  // the owner's own count, read by others after the join

    // Under the search's mutex: whether a thread has it, and what others may read of its path.
    bool open = true;
    bool complete = false;
    uint32_t reportedWords = 0;
    uint32_t reportedEnd = 0;  // the position after the last reported token

    // The owner's path past the end, up to the position where it met a later stretch's path
    // (that stretch and the index of its token there), or to the end of the image.
    std::vector<uint16_t> tail;
    uint32_t meetStretch = kNoStretch;
    uint32_t meetToken = 0;
};

// A thread's place on the path of a later stretch: its token at `token` starts at `position`.
struct PathCursor {
    uint32_t stretch = kNoStretch;
    uint32_t position = 0;
    uint32_t token = 0;
};

class StretchSearch final {
  public:
    StretchSearch(const SearchPlanes& planes, const MatchSettings& settings, uint32_t stretchPixels)
        : planes_(planes), settings_(settings) {
        const uint32_t stretchBytes = stretchPixels * kBytesPerPixel;
        for (uint32_t start = 0; start < planes.totalBytes; start += stretchBytes) {
            Stretch& stretch = stretches_.emplace_back();
            stretch.start = start;
            stretch.end =
                planes.totalBytes - start > stretchBytes ? start + stretchBytes : planes.totalBytes;
        }
    }

    [[nodiscard]] size_t StretchCount() const noexcept { return stretches_.size(); }

    // One thread's share: starts on an open stretch and goes on through the stretches after it
    // while they are open, then starts again elsewhere, until none is open.
    void Work(const std::stop_token& stop) {
        // Made at the first claim: a thread that finds every stretch taken needs no chains.
        std::optional<MatchFinder> finder;
        for (;;) {
            uint32_t k = 0;
            {
                const std::lock_guard lock(mutex_);
                const std::optional<uint32_t> start = ChooseStart();
                if (!start) return;
                k = *start;
                Claim(k, stretches_[k].start);
            }
            if (!finder) finder.emplace(planes_, settings_);
            finder->StartAt(stretches_[k].start);
            Follow(*finder, k, stretches_[k].start, stop);
            if (stop.stop_requested()) return;
        }
    }

    // After every thread has been joined: the true path, stretch by stretch, from the position
    // where the previous path met it.
    uint32_t Assemble(std::span<uint16_t> tokens) {
        uint32_t count = 0;
        uint32_t k = 0;
        uint32_t from = 0;
        for (;;) {
            Stretch& stretch = stretches_[k];
            count = static_cast<uint32_t>(std::copy(stretch.tokens.get() + from,
                                                    stretch.tokens.get() + stretch.tokenCount,
                                                    tokens.begin() + count) -
                                          tokens.begin());
            count = static_cast<uint32_t>(
                std::copy(stretch.tail.begin(), stretch.tail.end(), tokens.begin() + count) -
                tokens.begin());
            stretch.tokens.reset();
            stretch.tail = {};
            if (stretch.meetStretch == kNoStretch) return count;
            from = stretch.meetToken;
            k = stretch.meetStretch;
        }
    }

  private:
    // Under the mutex: where a thread starts afresh. A fresh start costs a window of insertions,
    // going on into the next stretch costs nothing; so threads start far apart, each in the
    // middle of the longest run of open stretches (at the image's start, the first stretch),
    // which leaves the thread before it the first half of the run to go on into.
    [[nodiscard]] std::optional<uint32_t> ChooseStart() const {
        uint32_t bestFirst = 0;
        uint32_t bestLength = 0;
        for (uint32_t k = 0; k < stretches_.size();) {
            if (!stretches_[k].open) {
                ++k;
                continue;
            }
            const uint32_t first = k;
            while (k < stretches_.size() && stretches_[k].open)
                ++k;
            if (k - first > bestLength) {
                bestFirst = first;
                bestLength = k - first;
            }
        }
        if (bestLength == 0) return std::nullopt;
        return bestFirst == 0 ? 0 : bestFirst + bestLength / 2;
    }

    // Under the mutex.
    void Claim(uint32_t k, uint32_t pathStart) {
        Stretch& stretch = stretches_[k];
        stretch.open = false;
        stretch.pathStart = pathStart;
        stretch.reportedEnd = pathStart;
        stretch.tokens = std::make_unique_for_overwrite<uint16_t[]>(
            size_t{2} * (stretch.end - pathStart) / kBytesPerPixel);
    }

    // Under the mutex: a stretch that no path visits, passed over so that none searches it.
    void LeaveOut(uint32_t k) {
        Stretch& stretch = stretches_[k];
        stretch.open = false;
        stretch.complete = true;
        stretch.pathStart = stretch.end;
        stretch.reportedEnd = stretch.end;
    }

    void Report(Stretch& stretch, uint32_t words, uint32_t end, bool complete) {
        {
            const std::lock_guard lock(mutex_);
            stretch.reportedWords = words;
            stretch.reportedEnd = end;
            stretch.complete = complete;
        }
        progress_.notify_all();
    }

    // The path of stretch k from `pos` to its end, reported as it goes. Returns where it ends.
    uint32_t SearchStretch(MatchFinder& finder, uint32_t k, uint32_t pos,
                           const std::stop_token& stop) {
        Stretch& stretch = stretches_[k];
        uint16_t* tokens = stretch.tokens.get();
        uint32_t count = 0;
        uint32_t reported = 0;
        while (pos < stretch.end) {
            const PlaneMatch chosen = finder.SelectMatch(pos);
            count = AppendToken(tokens, count, chosen);
            pos = finder.Advance(pos, chosen);
            if (count - reported >= kReportWords) {
                reported = count;
                Report(stretch, count, pos, false);
                if (stop.stop_requested()) return pos;
            }
        }
        stretch.tokenCount = count;
        Report(stretch, count, pos, true);
        return pos;
    }

    // Stretch k from `pos`, then on past its end until the path meets a later stretch's path.
    // A later stretch that no thread has claimed yet is taken over at once, the path going on
    // through it as its own: the chains already hold what a fresh start would insert.
    void Follow(MatchFinder& finder, uint32_t k, uint32_t pos, const std::stop_token& stop) {
        PathCursor cursor;
        for (;;) {
            pos = SearchStretch(finder, k, pos, stop);
            Stretch& own = stretches_[k];
            for (;;) {
                if (stop.stop_requested() || pos >= planes_.totalBytes) return;
                uint32_t j = k + 1;
                while (pos >= stretches_[j].end)
                    ++j;
                Stretch& next = stretches_[j];
                uint32_t reported = 0;
                {
                    std::unique_lock lock(mutex_);
                    if (next.open) {
                        // A match may leap over a short stretch: no path needs one it left out.
                        for (uint32_t skipped = k + 1; skipped < j; ++skipped) {
                            if (stretches_[skipped].open) LeaveOut(skipped);
                        }
                        Claim(j, pos);
                        own.meetStretch = j;
                        own.meetToken = 0;
                        break;
                    }
                    // Whether that path visits pos is known once it has come past pos.
                    if (!progress_.wait(lock, stop,
                                        [&] { return next.complete || next.reportedEnd > pos; }))
                        return;
                    reported = next.reportedWords;
                    if (cursor.stretch != j) cursor = {j, next.pathStart, 0};
                }
                const uint16_t* tokens = next.tokens.get();
                while (cursor.position < pos && cursor.token < reported) {
                    const uint16_t first = tokens[cursor.token];
                    cursor.position += TokenBytes(first);
                    cursor.token += first == 0 ? 1 : 2;
                }
                if (cursor.position == pos) {
                    own.meetStretch = j;
                    own.meetToken = cursor.token;
                    return;
                }
                const PlaneMatch chosen = finder.SelectMatch(pos);
                uint16_t words[2];
                own.tail.insert(own.tail.end(), words, words + AppendToken(words, 0, chosen));
                pos = finder.Advance(pos, chosen);
            }
            k = own.meetStretch;
        }
    }

    const SearchPlanes planes_;
    const MatchSettings settings_;
    std::vector<Stretch> stretches_;
    std::mutex mutex_;
    std::condition_variable_any progress_;
};

}  // namespace

uint32_t DefaultStretchPixels(uint32_t pixelCount, uint32_t threads) noexcept {
    const uint64_t stretches =
        std::max<uint64_t>(kMinStretchCount, uint64_t{threads} * kStretchesPerThread);
    const uint64_t share = (pixelCount + stretches - 1) / stretches;
    return static_cast<uint32_t>(std::max<uint64_t>(share, kMinStretchPixels));
}

uint32_t FindMatchesInParallel(const SearchPlanes& planes, const MatchSettings& settings,
                               uint32_t threads, uint32_t stretchPixels, std::span<uint16_t> tokens,
                               MatchCounters& found, const std::function<void()>& alongside) {
    const uint32_t pixelCount = planes.totalBytes / kBytesPerPixel;
    if (stretchPixels == 0) stretchPixels = DefaultStretchPixels(pixelCount, threads);
    // Without a search every pixel is a literal: nothing to share.
    if (threads <= 1 || settings.maxChainLength == 0 || stretchPixels >= pixelCount) {
        if (alongside) alongside();
        MatchFinder finder(planes, settings);
        const uint32_t count = finder.FindMatches(tokens);
        found = finder.Found();
        return count;
    }
    StretchSearch search(planes, settings, stretchPixels);
    {
        TaskGroup group;
        const size_t workers = std::min<size_t>(threads, search.StretchCount());
        for (size_t i = 0; i < workers; ++i) {
            group.Run([&search, &alongside, i](const std::stop_token& stop) {
                if (i == 0 && alongside) alongside();
                search.Work(stop);
            });
        }
        group.Wait();
    }
    const uint32_t count = search.Assemble(tokens);
    found = CountMatches(tokens.first(count));
    return count;
}

}  // namespace quenpix
