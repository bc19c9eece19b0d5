// The LZ77 match search over the raw, vertical and horizontal planes, in whole pixels.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "format/match_counters.hpp"
#include "format/stream_constants.hpp"

namespace quenpix {

// Zero bytes after each searched plane: a comparison may run 258 bytes past a position.
inline constexpr uint32_t kPlaneTail = 500;
inline constexpr uint32_t kHashSize = 32768;
// Matches shorter than this (3, 6, 9 bytes) may be written as pixels again.
inline constexpr uint32_t kShortMatchLimit = 12;
inline constexpr uint32_t kUnboundedChain = 0xFFFFFFFF;
inline constexpr uint16_t kMatchTokenBias = 256;

enum PlaneIndex : uint32_t { kRawPlane = 0, kVerticalPlane = 1, kHorizontalPlane = 2 };

// The hash of the three bytes at p: the low five bits of each.
[[nodiscard]] inline uint32_t HashPosition(const uint8_t* plane, uint32_t p) noexcept {
    return (plane[p] & 31u) | (plane[p + 1] & 31u) << 5 | (plane[p + 2] & 31u) << 10;
}

// Hash chains of one plane. A pixel position p lives in node (p / 3) mod 32768; the
// per-hash counts, not the links, bound every walk, so stale links are harmless.
//
// Beside the chain of its 15-bit hash, every position also sits in two auxiliary chains keyed
// on its first two and first three pixels. Once a walk has a match of one pixel, only candidates
// that agree on two pixels (then three) can improve it; the auxiliary chains lead straight to
// them, and each node's insertion number in its hash chain tells how many ordinary candidates the
// plain walk would have compared on the way, so the walk's counts stay exact.
struct MatchChains {
    static constexpr int32_t kNone = -1;
    static constexpr uint32_t kNoPosition = 0xFFFFFFFF;
    static constexpr uint32_t kKeyBits = 16;

    // Node and chain slots are packed: node numbers fit 16 bits (the window holds 32768 pixels)
    // and so do live counts, and the smaller tables stay in the cache more of the time.
    // A node's position is not stored: node n holds the one position of pixel number n modulo
    // 32768 within the window (see PositionOfNode).
    struct Node {
        uint32_t sequence;    // its insertion number in the chain of its hash
        uint32_t pairLink;    // the previous position with the same two-pixel key
        uint32_t tripleLink;  // the previous position with the same three-pixel key
        int16_t link;         // the next older node of the same hash, or none
        uint16_t hash;        // its hash, so that leaving the window needs no look back
    };

    // Per hash value, together so that one cache line serves a walk's start and an insertion.
    struct Chain {
        int16_t head;       // the newest node, or none
        uint16_t count;     // live nodes (at most 32768)
        uint32_t inserted;  // nodes ever inserted
    };

    // Sizes and clears the arrays; an unused plane's chains stay empty.
    void Allocate();
    // Empties the chains of an allocated plane.
    void Empty();
    std::vector<Node> nodes;
    std::vector<Chain> byHash;
    std::vector<uint32_t> pairHeads;    // per two-pixel key: the newest position
    std::vector<uint32_t> tripleHeads;  // per three-pixel key: the newest position
};

struct MatchSettings {
    uint32_t maxChainLength = 128;
    bool useVerticalPlane = true;
    bool useHorizontalPlane = true;
    bool replaceShortMatches = true;
};

struct Match {
    uint32_t length = 0;    // bytes; 0 means none
    uint32_t distance = 0;  // pixels
};

// What the walk writes at one position: a match from one plane, or a literal pixel (length 0).
struct PlaneMatch {
    Match match;
    uint32_t plane = kRawPlane;
};

// The searched planes: each holds totalBytes image bytes followed by kPlaneTail zeros.
// A null vertical or horizontal plane is not searched.
struct SearchPlanes {
    const uint8_t* raw = nullptr;
    const uint8_t* vertical = nullptr;
    const uint8_t* horizontal = nullptr;
    uint32_t totalBytes = 0;
};

class MatchFinder final {
  public:
    MatchFinder(const SearchPlanes& planes, const MatchSettings& settings);

    // Walks the image once. Fills `tokens` (room for two words per pixel; a literal pixel is
    // the word 0, a match the words byte length + plane + 256 and distance) and returns the
    // number of words used.
    [[nodiscard]] uint32_t FindMatches(std::span<uint16_t> tokens);
    // The matches FindMatches put into the token list, by plane.
    [[nodiscard]] const MatchCounters& Found() const noexcept { return found_; }

    // The walk in steps, for a search that starts part-way through the image. The chains then
    // see at `start` what the walk from the image's start sees there: every search looks at
    // most one window back, and the per-hash counts bound a walk to the positions inserted.
    // Clears the chains and inserts the window of positions before `start`.
    void StartAt(uint32_t start);
    // The token the walk writes at `pos` (the chains must hold every position before it), and
    // the insertion of the positions it covers; returns the position after it.
    [[nodiscard]] PlaneMatch SelectMatch(uint32_t pos) const;
    uint32_t Advance(uint32_t pos, const PlaneMatch& chosen);
    [[nodiscard]] uint32_t TotalBytes() const noexcept { return totalBytes_; }

    // The longest match for `pos` in one plane, as the walk over its chain finds it.
    [[nodiscard]] Match FindLongestMatch(uint32_t plane, uint32_t pos) const;
    // The same result by the plain walk, candidate by candidate; the yardstick of the fast one.
    [[nodiscard]] Match FindLongestMatchByWalk(uint32_t plane, uint32_t pos) const;
    // Adds position p to every plane in use, dropping the node it replaces.
    void InsertEverywhere(uint32_t p);

  private:
    void RemoveOldestPosition(uint32_t plane, uint32_t p) noexcept;
    void InsertPosition(uint32_t plane, uint32_t p, uint32_t h) noexcept;

    std::array<const uint8_t*, 3> planes_{};
    std::vector<MatchChains> chains_;  // one per plane in use, indexed by plane number
    uint32_t totalBytes_;
    MatchSettings settings_;
    MatchCounters found_;
    // The positions the chains hold were inserted in one run from heldFrom_ to heldTo_.
    uint32_t heldFrom_ = 0;
    uint32_t heldTo_ = 0;
};

// Calls visit(pixel), in image order, for every pixel that needs a box number: the literal
// pixels and, while short matches may be written as pixels, the pixels of matches under 12 bytes.
// `tokens` may be a part of the list that starts at pixel `firstPixel`.
template <typename Visit>
void ForEachListedPixel(std::span<const uint16_t> tokens, bool replaceShortMatches, Visit&& visit,
                        uint32_t firstPixel = 0) {
    uint32_t pixel = firstPixel;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i] == 0) {
            visit(pixel++);
            continue;
        }
        const uint32_t pixels = (tokens[i] - kMatchTokenBias) / kBytesPerPixel;
        ++i;  // the distance
        if (replaceShortMatches && pixels * kBytesPerPixel < kShortMatchLimit) {
            for (uint32_t k = 0; k < pixels; ++k)
                visit(pixel + k);
        }
        pixel += pixels;
    }
}

// A place in a token list: the index of a token's first word and the pixel the token starts at.
struct TokenPlace {
    size_t token = 0;
    uint32_t pixel = 0;
};

// Cuts a token list at token starts into up to `parts` pieces of about as many words: the
// places from the list's start to its end, one more than the pieces.
[[nodiscard]] std::vector<TokenPlace> CutTokenList(std::span<const uint16_t> tokens,
                                                   uint32_t parts);

// Appends the words of one token at tokens[count] and returns the new count.
inline uint32_t AppendToken(uint16_t* tokens, uint32_t count, const PlaneMatch& chosen) noexcept {
    if (chosen.match.length == 0) {
        tokens[count] = 0;
        return count + 1;
    }
    tokens[count] = static_cast<uint16_t>(chosen.match.length + chosen.plane + kMatchTokenBias);
    tokens[count + 1] = static_cast<uint16_t>(chosen.match.distance);
    return count + 2;
}

// The bytes one token covers, from its first word.
[[nodiscard]] inline uint32_t TokenBytes(uint16_t first) noexcept {
    return first == 0 ? kBytesPerPixel
                      : (first - kMatchTokenBias) / kBytesPerPixel * kBytesPerPixel;
}

// The matches in a token list, by plane.
[[nodiscard]] MatchCounters CountMatches(std::span<const uint16_t> tokens) noexcept;

// The same pixels linked into a list from pixel 0; the last pixel's link is 0.
void LinkListedPixels(std::span<const uint16_t> tokens, bool replaceShortMatches,
                      std::span<uint32_t> pixelLinks) noexcept;

// The selection between planes: a candidate from a difference plane replaces the current best
// when it is longer, or equally long and strictly nearer; a 258-byte difference match is then
// cut to 255 (so that length + plane stays within 258) and still taken. Returns true if taken.
bool ChooseMatch(Match& best, uint32_t& bestPlane, Match candidate, uint32_t plane) noexcept;

// The agreed length in bytes of the strings at pos and cand, in 3-byte groups, at most 258;
// 0 unless the group at `best` agrees (only a longer match is of interest).
[[nodiscard]] uint32_t CompareStrings(const uint8_t* plane, uint32_t pos, int64_t cand,
                                      uint32_t best) noexcept;

}  // namespace quenpix
