// The LZ77 match search over the raw, vertical and horizontal planes, in whole pixels.
#include "stream/match_finder.hpp"

#include <cstring>

namespace quenpix {

namespace {

inline bool SameGroup(const uint8_t* a, const uint8_t* b) noexcept {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

inline uint32_t NodeOf(uint32_t p) noexcept {
    return (p / kBytesPerPixel) % kWindowPixels;
}

}  // namespace

MatchChains::MatchChains()
    : position(kWindowPixels, 0),
      link(kWindowPixels, kNone),
      heads(kHashSize, kNone),
      chainCounts(kHashSize, 0) {}

uint32_t CompareStrings(const uint8_t* plane, uint32_t pos, int64_t cand, uint32_t best) noexcept {
    if (pos < 1 || cand < 0) return 0;
    const uint8_t* a = plane + pos;
    const uint8_t* b = plane + cand;
    // Any longer match agrees at `best`; most candidates fail right here.
    if (!SameGroup(a + best, b + best)) return 0;
    uint32_t length = 0;
    while (length < best) {
        if (!SameGroup(a + length, b + length)) return length;
        length += 3;
    }
    length += 3;
    while (length < kMaxMatchBytes && SameGroup(a + length, b + length))
        length += 3;
    return length;
}

MatchFinder::MatchFinder(const SearchPlanes& planes, const MatchSettings& settings)
    : totalBytes_(planes.totalBytes), settings_(settings) {
    planes_ = {planes.raw, planes.vertical, planes.horizontal};
    chains_.resize(3);
    if (!settings_.useVerticalPlane) planes_[kVerticalPlane] = nullptr;
    if (!settings_.useHorizontalPlane) planes_[kHorizontalPlane] = nullptr;
}

void MatchFinder::RemoveOldestPosition(uint32_t plane, uint32_t p) noexcept {
    if (p < kWindowBytes) return;
    MatchChains& chains = chains_[plane];
    const uint32_t h = HashPosition(planes_[plane], p - kWindowBytes);
    // The node leaving the window is always the oldest of its chain.
    if (chains.chainCounts[h] == 1) {
        chains.chainCounts[h] = 0;
    } else {
        chains.chainCounts[h] -= 1;
    }
}

void MatchFinder::InsertPosition(uint32_t plane, uint32_t p, uint32_t h) noexcept {
    MatchChains& chains = chains_[plane];
    const uint32_t node = NodeOf(p);
    chains.link[node] = chains.heads[h];
    chains.position[node] = p;
    chains.heads[h] = static_cast<int32_t>(node);
    chains.chainCounts[h] += 1;
}

void MatchFinder::InsertEverywhere(uint32_t p) {
    for (uint32_t plane = kRawPlane; plane <= kHorizontalPlane; ++plane) {
        if (planes_[plane] == nullptr) continue;
        RemoveOldestPosition(plane, p);
        InsertPosition(plane, p, HashPosition(planes_[plane], p));
    }
}

Match MatchFinder::FindLongestMatch(uint32_t plane, uint32_t pos) const {
    const uint8_t* data = planes_[plane];
    const MatchChains& chains = chains_[plane];
    uint32_t best = 0;
    uint32_t step = 3;
    int64_t offset = 0;
    uint32_t compared = 0;
    int64_t bestCand = 0;

    const uint32_t h = HashPosition(data, pos);
    int32_t node = chains.heads[h];
    if (node == MatchChains::kNone) return {};
    int64_t remaining = chains.chainCounts[h];
    for (;;) {
        if (compared >= settings_.maxChainLength) break;
        ++compared;
        if (remaining <= 0 || node == MatchChains::kNone) break;
        const int64_t cand = int64_t{chains.position[static_cast<uint32_t>(node)]} - offset;
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
                    if (int64_t{chains.chainCounts[h2]} < remaining) {
                        remaining = chains.chainCounts[h2];
                        node = chains.heads[h2];
                        offset = k;
                        switched = true;
                    }
                }
                step = (best / 3 + 1) * 3;
                if (switched) continue;
            }
        }
        node = chains.link[static_cast<uint32_t>(node)];
    }
    // A comparison may run on into the zero tail; the match ends at the last pixel.
    if (uint64_t{pos} + best >= totalBytes_) best = totalBytes_ - pos;
    if (best < kMinMatchBytes) return {};
    return {best, static_cast<uint32_t>((int64_t{pos} - bestCand) / 3)};
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

uint32_t MatchFinder::FindMatches(std::span<uint16_t> tokens, std::span<uint32_t> pixelLinks) {
    uint32_t tokenCount = 0;
    uint32_t tail = 0;
    auto link_pixel = [&](uint32_t pixel) {
        pixelLinks[tail] = pixel;
        tail = pixel;
    };
    const bool searching = settings_.maxChainLength > 0;
    uint32_t pos = 0;
    while (pos < totalBytes_) {
        Match best;
        uint32_t bestPlane = kRawPlane;
        if (searching) {
            best = FindLongestMatch(kRawPlane, pos);
            for (uint32_t plane = kVerticalPlane; plane <= kHorizontalPlane; ++plane) {
                if (planes_[plane] == nullptr || best.length >= kMaxMatchBytes) continue;
                ChooseMatch(best, bestPlane, FindLongestMatch(plane, pos), plane);
            }
        }
        if (best.length == 0) {
            if (searching) InsertEverywhere(pos);
            link_pixel(pos / kBytesPerPixel);
            tokens[tokenCount++] = 0;
            pos += kBytesPerPixel;
            continue;
        }
        if (settings_.replaceShortMatches && best.length < kShortMatchLimit) {
            for (uint32_t q = pos; q < pos + best.length; q += kBytesPerPixel) {
                link_pixel(q / kBytesPerPixel);
            }
        }
        for (uint32_t q = pos; q < pos + best.length; q += kBytesPerPixel)
            InsertEverywhere(q);
        pos += best.length;
        tokens[tokenCount++] = static_cast<uint16_t>(best.length + bestPlane + kMatchTokenBias);
        tokens[tokenCount++] = static_cast<uint16_t>(best.distance);
    }
    pixelLinks[tail] = 0;
    return tokenCount;
}

}  // namespace quenpix
