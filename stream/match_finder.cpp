// The LZ77 match search over the raw, vertical and horizontal planes, in whole pixels.
#include "stream/match_finder.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

namespace quenpix {

namespace {

constexpr uint32_t kPairBytes = 6;
constexpr uint32_t kTripleBytes = 9;

inline uint64_t Load64(const uint8_t* p) noexcept {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint32_t Load32(const uint8_t* p) noexcept {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline bool SameGroup(const uint8_t* a, const uint8_t* b) noexcept {
    return ((Load32(a) ^ Load32(b)) & 0xFFFFFF) == 0;
}

// Index of the first byte where a and b differ within n bytes, or n. May read up to 7 bytes
// past n; the planes' zero tails cover that.
inline uint32_t FirstDifference(const uint8_t* a, const uint8_t* b, uint32_t n) noexcept {
    for (uint32_t i = 0; i < n; i += 8) {
        const uint64_t x = Load64(a + i) ^ Load64(b + i);
        if (x != 0) {
            const uint32_t at = i + static_cast<uint32_t>(std::countr_zero(x)) / 8;
            return at < n ? at : n;
        }
    }
    return n;
}

inline uint32_t NodeOf(uint32_t p) noexcept {
    return (p / kBytesPerPixel) % kWindowPixels;
}

// The position a live node holds during the search at pos: of the pixels pos / 3 - 32768 to
// pos / 3 - 1, the one whose number is the node's modulo 32768.
inline uint32_t PositionOfNode(uint32_t node, uint32_t pos) noexcept {
    const uint32_t before = pos / kBytesPerPixel - 1;
    return (before - ((before - node) % kWindowPixels)) * kBytesPerPixel;
}

constexpr uint64_t kKeyMultiplier = 0x9E3779B97F4A7C15ull;

inline uint32_t PairKey(const uint8_t* plane, uint32_t p) noexcept {
    const uint64_t bytes = Load64(plane + p) & 0xFFFFFFFFFFFFull;
    return static_cast<uint32_t>((bytes * kKeyMultiplier) >> (64 - MatchChains::kKeyBits));
}

inline uint32_t TripleKey(const uint8_t* plane, uint32_t p) noexcept {
    const uint64_t bytes = Load64(plane + p) ^ (uint64_t{plane[p + 8]} << 29);
    return static_cast<uint32_t>(((bytes + plane[p + 8]) * kKeyMultiplier) >>
                                 (64 - MatchChains::kKeyBits));
}

inline bool SamePair(const uint8_t* a, const uint8_t* b) noexcept {
    return ((Load64(a) ^ Load64(b)) & 0xFFFFFFFFFFFFull) == 0;
}

inline bool SameTriple(const uint8_t* a, const uint8_t* b) noexcept {
    return Load64(a) == Load64(b) && a[8] == b[8];
}

}  // namespace

void MatchChains::Allocate() {
    nodes.assign(kWindowPixels, Node{0, kNoPosition, kNoPosition, kNone, 0});
    Empty();
}

void MatchChains::Empty() {
    byHash.assign(kHashSize, Chain{kNone, 0, 0});
    pairHeads.assign(size_t{1} << kKeyBits, kNoPosition);
    tripleHeads.assign(size_t{1} << kKeyBits, kNoPosition);
}

uint32_t CompareStrings(const uint8_t* plane, uint32_t pos, int64_t cand, uint32_t best) noexcept {
    if (pos < 1 || cand < 0) return 0;
    const uint8_t* a = plane + pos;
    const uint8_t* b = plane + cand;
    // Any longer match agrees at `best`; most candidates fail right here.
    if (!SameGroup(a + best, b + best)) return 0;
    // The length counts whole agreeing groups of 3 from the start.
    const uint32_t before = FirstDifference(a, b, best);
    if (before < best) return before - before % 3;
    const uint32_t from = best + 3;
    const uint32_t length = from + FirstDifference(a + from, b + from, kMaxMatchBytes - from);
    return length - length % 3;
}

MatchFinder::MatchFinder(const SearchPlanes& planes, const MatchSettings& settings)
    : totalBytes_(planes.totalBytes), settings_(settings) {
    planes_ = {planes.raw, planes.vertical, planes.horizontal};
    if (!settings_.useVerticalPlane) planes_[kVerticalPlane] = nullptr;
    if (!settings_.useHorizontalPlane) planes_[kHorizontalPlane] = nullptr;
    chains_.resize(3);
    // Without a search (level 0) no chains are needed at all.
    if (settings_.maxChainLength == 0) return;
    for (uint32_t plane = kRawPlane; plane <= kHorizontalPlane; ++plane) {
        if (planes_[plane] != nullptr) chains_[plane].Allocate();
    }
}

void MatchFinder::RemoveOldestPosition(uint32_t plane, uint32_t p) noexcept {
    if (p < kWindowBytes) return;
    MatchChains& chains = chains_[plane];
    // The node that p takes over still holds p - windowSize.
    const uint32_t h = chains.nodes[NodeOf(p)].hash;
    // The node leaving the window is always the oldest of its chain.
    uint16_t& count = chains.byHash[h].count;
    if (count == 1) {
        count = 0;
    } else {
        count -= 1;
    }
}

void MatchFinder::InsertPosition(uint32_t plane, uint32_t p, uint32_t h) noexcept {
    MatchChains& chains = chains_[plane];
    const uint8_t* data = planes_[plane];
    MatchChains::Node& node = chains.nodes[NodeOf(p)];
    const uint32_t pair = PairKey(data, p);
    const uint32_t triple = TripleKey(data, p);
    MatchChains::Chain& chain = chains.byHash[h];
    node.link = chain.head;
    node.sequence = chain.inserted++;
    node.pairLink = chains.pairHeads[pair];
    node.tripleLink = chains.tripleHeads[triple];
    node.hash = static_cast<uint16_t>(h);
    chain.head = static_cast<int16_t>(NodeOf(p));
    chain.count = static_cast<uint16_t>(chain.count + 1);
    chains.pairHeads[pair] = p;
    chains.tripleHeads[triple] = p;
}

void MatchFinder::InsertEverywhere(uint32_t p) {
    if (settings_.maxChainLength == 0) return;
    for (uint32_t plane = kRawPlane; plane <= kHorizontalPlane; ++plane) {
        if (planes_[plane] == nullptr) continue;
        RemoveOldestPosition(plane, p);
        InsertPosition(plane, p, HashPosition(planes_[plane], p));
    }
}

Match MatchFinder::FindLongestMatchByWalk(uint32_t plane, uint32_t pos) const {
    if (settings_.maxChainLength == 0) return {};
    const uint8_t* data = planes_[plane];
    const MatchChains& chains = chains_[plane];
    uint32_t best = 0;
    uint32_t step = 3;
    int64_t offset = 0;
    uint32_t compared = 0;
    int64_t bestCand = 0;

    const uint32_t h = HashPosition(data, pos);
    int32_t node = chains.byHash[h].head;
    if (node == MatchChains::kNone) return {};
    int64_t remaining = chains.byHash[h].count;
    for (;;) {
        if (compared >= settings_.maxChainLength) break;
        ++compared;
        if (remaining <= 0 || node == MatchChains::kNone) break;
        const MatchChains::Node& n = chains.nodes[static_cast<uint32_t>(node)];
        const int64_t cand = int64_t{PositionOfNode(static_cast<uint32_t>(node), pos)} - offset;
        if (int64_t{pos} - cand > int64_t{kWindowBytes}) break;
        const uint32_t length = CompareStrings(data, pos, cand, best);
        --remaining;
        if (length > best) {
            best = length;
            bestCand = cand;
            if (best == kMaxMatchBytes) break;
            // A longer match agrees with this string at every group up to `best`, so it
            // also sits in the chain of the rarest of those groups, shifted back by its offset.
            if (best >= step && int64_t{best - step} < remaining) {
                bool switched = false;
                for (uint32_t k = step; k <= best; k += 3) {
                    const uint32_t h2 = HashPosition(data, pos + k);
                    const MatchChains::Chain& rare = chains.byHash[h2];
                    if (int64_t{rare.count} < remaining) {
                        remaining = rare.count;
                        node = rare.head;
                        offset = k;
                        switched = true;
                    }
                }
                step = (best / 3 + 1) * 3;
                if (switched) continue;
            }
        }
        node = n.link;
    }
    // A comparison may run on into the zero tail; the match ends at the last pixel.
    if (uint64_t{pos} + best >= totalBytes_) best = totalBytes_ - pos;
    if (best < kMinMatchBytes) return {};
    return {best, static_cast<uint32_t>((int64_t{pos} - bestCand) / 3)};
}

// One search for the longest match at a position, as a resumable walk: Step() does what one
// turn of the plain walk's loop does (or one jump), so that two searches can take turns and
// their cache misses overlap.
class ChainWalk final {
  public:
    ChainWalk(const uint8_t* data, const MatchChains& chains, uint32_t maxChainLength,
              uint32_t totalBytes, uint32_t pos) noexcept
        : data_(data),
          chains_(chains),
          maxChain_(maxChainLength),
          totalBytes_(totalBytes),
          pos_(pos) {
        const MatchChains::Chain& chain = chains.byHash[HashPosition(data, pos)];
        node_ = chain.head;
        remaining_ = chain.count;
        done_ = node_ == MatchChains::kNone;
    }

    [[nodiscard]] bool Done() const noexcept { return done_; }

    // Advances the walk by one candidate (or one auxiliary entry).
    void Step() noexcept {
        if (!jumping_) {
            // The plain walk, up to the first match.
            if (compared_ >= maxChain_ || remaining_ <= 0 || node_ == MatchChains::kNone) {
                done_ = true;
                return;
            }
            ++compared_;
            const MatchChains::Node& n = chains_.nodes[static_cast<uint32_t>(node_)];
            const uint32_t position = PositionOfNode(static_cast<uint32_t>(node_), pos_);
            const int64_t cand = int64_t{position} - offset_;
            if (int64_t{pos_} - cand > int64_t{kWindowBytes}) {
                done_ = true;
                return;
            }
            const uint32_t length = CompareStrings(data_, pos_, cand, best_);
            --remaining_;
            node_ = n.link;
            if (length > best_) {
                cursorSequence_ = n.sequence - 1;
                cursorPosition_ = position - 3;
                done_ = !Improve(length, cand);
            }
            return;
        }

        // Jump to the next candidate that could be longer, counting the candidates the plain
        // walk would compare on the way. Entries come newest first, so the first one out of
        // reach ends the walk.
        if (entry_ == MatchChains::kNoPosition) {
            done_ = true;
            return;
        }
        const int64_t cand = int64_t{entry_} - keyStart_;
        if (int64_t{pos_} - cand > int64_t{kWindowBytes} || cand < 0) {
            done_ = true;
            return;
        }
        const uint32_t target = static_cast<uint32_t>(cand) + offset_;
        const uint8_t* keyAt = data_ + pos_ + keyStart_;
        if (target > cursorPosition_ ||
            !(pairs_ ? SamePair(data_ + entry_, keyAt) : SameTriple(data_ + entry_, keyAt))) {
            entry_ = KeyLink(entry_);
            return;
        }
        const uint32_t targetSequence = chains_.nodes[NodeOf(target)].sequence;
        const uint32_t skipped = cursorSequence_ - targetSequence;
        if (compared_ + skipped >= maxChain_ || remaining_ - skipped <= 0) {
            done_ = true;
            return;
        }
        compared_ += uint64_t{skipped} + 1;
        remaining_ -= int64_t{skipped} + 1;
        const uint32_t length = CompareStrings(data_, pos_, cand, best_);
        cursorSequence_ = targetSequence - 1;
        cursorPosition_ = target - 3;
        if (length > best_) {
            done_ = !Improve(length, cand);
        } else {
            entry_ = KeyLink(entry_);
        }
    }

    [[nodiscard]] Match Result() const noexcept {
        uint32_t best = best_;
        // A comparison may run on into the zero tail; the match ends at the last pixel.
        if (uint64_t{pos_} + best >= totalBytes_) best = totalBytes_ - pos_;
        if (best < kMinMatchBytes) return {};
        return {best, static_cast<uint32_t>((int64_t{pos_} - bestCand_) / 3)};
    }

  private:
    [[nodiscard]] uint32_t KeyLink(uint32_t position) const noexcept {
        const MatchChains::Node& n = chains_.nodes[NodeOf(position)];
        return pairs_ ? n.pairLink : n.tripleLink;
    }

    // Records a new best and, like the plain walk, may move onto the chain of the rarest group
    // that any longer match must also contain. Returns false when the walk is over.
    bool Improve(uint32_t length, int64_t cand) noexcept {
        best_ = length;
        bestCand_ = cand;
        if (best_ == kMaxMatchBytes) return false;
        bool switched = false;
        if (best_ >= step_ && int64_t{best_ - step_} < remaining_) {
            for (uint32_t k = step_; k <= best_; k += 3) {
                const MatchChains::Chain& rare = chains_.byHash[HashPosition(data_, pos_ + k)];
                if (int64_t{rare.count} < remaining_) {
                    remaining_ = rare.count;
                    node_ = rare.head;
                    offset_ = k;
                    switched = true;
                }
            }
            step_ = (best_ / 3 + 1) * 3;
        }
        if (switched) {
            if (remaining_ <= 0) return false;
            const MatchChains::Node& head = chains_.nodes[static_cast<uint32_t>(node_)];
            cursorSequence_ = head.sequence;
            cursorPosition_ = PositionOfNode(static_cast<uint32_t>(node_), pos_);
        }
        // Only candidates agreeing with this string on two pixels (best 3) or three (best 6 or
        // more) can improve it. The auxiliary chain of those pixels, taken at keyStart so that
        // they include the walked chain's group, holds every such candidate.
        pairs_ = best_ == 3;
        const uint32_t keyBytes = pairs_ ? kPairBytes : kTripleBytes;
        keyStart_ = offset_ + 3 > keyBytes ? offset_ + 3 - keyBytes : 0;
        // Go on from this candidate's own auxiliary link when it is on that chain (the entries
        // before it are behind the walk); otherwise start at the chain's head.
        if (!switched && cand >= 0 && length >= keyStart_ + keyBytes) {
            entry_ = KeyLink(static_cast<uint32_t>(cand + keyStart_));
        } else {
            const uint32_t key =
                pairs_ ? PairKey(data_, pos_ + keyStart_) : TripleKey(data_, pos_ + keyStart_);
            entry_ = pairs_ ? chains_.pairHeads[key] : chains_.tripleHeads[key];
        }
        jumping_ = true;
        return true;
    }

    const uint8_t* data_;
    const MatchChains& chains_;
    uint64_t maxChain_;
    uint32_t totalBytes_;
    uint32_t pos_;
    uint32_t best_ = 0;
    uint32_t step_ = 3;
    uint32_t offset_ = 0;
    uint64_t compared_ = 0;
    int64_t bestCand_ = 0;
    int32_t node_;
    int64_t remaining_;
    bool done_;
    // Where the walk stands, for the jumps: the insertion number of the next node it would
    // compare, and the highest position that node can hold.
    uint32_t cursorSequence_ = 0;
    uint32_t cursorPosition_ = 0;
    bool jumping_ = false;
    bool pairs_ = true;
    uint32_t keyStart_ = 0;
    uint32_t entry_ = MatchChains::kNoPosition;
};

Match MatchFinder::FindLongestMatch(uint32_t plane, uint32_t pos) const {
    if (settings_.maxChainLength == 0) return {};
    ChainWalk walk(planes_[plane], chains_[plane], settings_.maxChainLength, totalBytes_, pos);
    while (!walk.Done())
        walk.Step();
    return walk.Result();
}

bool ChooseMatch(Match& best, uint32_t& bestPlane, Match candidate, uint32_t plane) noexcept {
    if (candidate.length == 0) return false;
    // The cut to 255 comes after the comparison, so a 258-byte difference match beats a
    // 255-byte raw match however near that one is.
    if (candidate.length > best.length ||
        (candidate.length == best.length && candidate.distance < best.distance)) {
        if (candidate.length == kMaxMatchBytes) candidate.length = kMaxDifferenceMatchBytes;
        if (candidate.length >= best.length) {
            best = candidate;
            bestPlane = plane;
            return true;
        }
    }
    return false;
}

PlaneMatch MatchFinder::SelectMatch(uint32_t pos) const {
    PlaneMatch chosen;
    if (settings_.maxChainLength == 0) return chosen;
    chosen.match = FindLongestMatch(kRawPlane, pos);
    if (chosen.match.length >= kMaxMatchBytes) return chosen;
    // The two difference planes are searched together, a step of each in turn, so that their
    // cache misses overlap; the vertical match is still chosen first.
    std::optional<ChainWalk> vertical;
    std::optional<ChainWalk> horizontal;
    if (planes_[kVerticalPlane] != nullptr) {
        vertical.emplace(planes_[kVerticalPlane], chains_[kVerticalPlane], settings_.maxChainLength,
                         totalBytes_, pos);
    }
    if (planes_[kHorizontalPlane] != nullptr) {
        horizontal.emplace(planes_[kHorizontalPlane], chains_[kHorizontalPlane],
                           settings_.maxChainLength, totalBytes_, pos);
    }
    bool verticalGoing = vertical && !vertical->Done();
    bool horizontalGoing = horizontal && !horizontal->Done();
    while (verticalGoing || horizontalGoing) {
        if (verticalGoing) {
            vertical->Step();
            verticalGoing = !vertical->Done();
        }
        if (horizontalGoing) {
            horizontal->Step();
            horizontalGoing = !horizontal->Done();
        }
    }
    if (vertical) ChooseMatch(chosen.match, chosen.plane, vertical->Result(), kVerticalPlane);
    if (horizontal) ChooseMatch(chosen.match, chosen.plane, horizontal->Result(), kHorizontalPlane);
    return chosen;
}

uint32_t MatchFinder::Advance(uint32_t pos, const PlaneMatch& chosen) {
    const uint32_t end = pos + std::max(chosen.match.length, kBytesPerPixel);
    for (uint32_t q = pos; q < end; q += kBytesPerPixel)
        InsertEverywhere(q);
    heldTo_ = end;
    return end;
}

void MatchFinder::StartAt(uint32_t start) {
    if (settings_.maxChainLength == 0) return;
    const uint32_t from = start > kWindowBytes ? start - kWindowBytes : 0;
    for (uint32_t plane = kRawPlane; plane <= kHorizontalPlane; ++plane) {
        if (planes_[plane] == nullptr) continue;
        MatchChains& chains = chains_[plane];
        const uint8_t* data = planes_[plane];
        // A short stretch touched few chain entries: put back just those.
        if ((heldTo_ - heldFrom_) / kBytesPerPixel < kHashSize) {
            for (uint32_t p = heldFrom_; p < heldTo_; p += kBytesPerPixel) {
                chains.byHash[HashPosition(data, p)] = {MatchChains::kNone, 0, 0};
                chains.pairHeads[PairKey(data, p)] = MatchChains::kNoPosition;
                chains.tripleHeads[TripleKey(data, p)] = MatchChains::kNoPosition;
            }
        } else {
            chains.Empty();
        }
        // Nodes are left as they are: every node a search or a removal reads is one of the
        // positions inserted from here on. Nothing leaves the window during this first fill.
        for (uint32_t p = from; p < start; p += kBytesPerPixel)
            InsertPosition(plane, p, HashPosition(data, p));
    }
    heldFrom_ = from;
    heldTo_ = start;
}

uint32_t MatchFinder::FindMatches(std::span<uint16_t> tokens) {
    uint32_t tokenCount = 0;
    uint32_t pos = 0;
    while (pos < totalBytes_) {
        const PlaneMatch chosen = SelectMatch(pos);
        tokenCount = AppendToken(tokens.data(), tokenCount, chosen);
        if (chosen.match.length != 0) ++found_.ForPlane(chosen.plane);
        pos = Advance(pos, chosen);
    }
    return tokenCount;
}

std::vector<TokenPlace> CutTokenList(std::span<const uint16_t> tokens, uint32_t parts) {
    parts = std::max(parts, 1u);
    const auto step = [&tokens](TokenPlace& place) {
        place.pixel += TokenBytes(tokens[place.token]) / kBytesPerPixel;
        place.token += tokens[place.token] == 0 ? 1 : 2;
    };
    std::vector<TokenPlace> places = {TokenPlace{}};
    TokenPlace at;
    for (uint32_t k = 1; k < parts; ++k) {
        const size_t target = tokens.size() * k / parts;
        while (at.token < target)
            step(at);
        if (at.token < tokens.size() && at.token > places.back().token) places.push_back(at);
    }
    while (at.token < tokens.size())
        step(at);
    places.push_back(at);
    return places;
}

MatchCounters CountMatches(std::span<const uint16_t> tokens) noexcept {
    MatchCounters counters;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i] == 0) continue;
        ++counters.ForPlane((tokens[i] - kMatchTokenBias) % kBytesPerPixel);
        ++i;  // the distance
    }
    return counters;
}

void LinkListedPixels(std::span<const uint16_t> tokens, bool replaceShortMatches,
                      std::span<uint32_t> pixelLinks) noexcept {
    uint32_t tail = 0;
    ForEachListedPixel(tokens, replaceShortMatches, [&](uint32_t pixel) {
        pixelLinks[tail] = pixel;
        tail = pixel;
    });
    pixelLinks[tail] = 0;
}

}  // namespace quenpix
