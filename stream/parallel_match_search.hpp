// The match search split into stretches of the image that threads search side by side, with
// the very tokens of the walk from the image's start.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "format/match_counters.hpp"
#include "stream/match_finder.hpp"

namespace quenpix {

// Pixels per stretch when the caller leaves the choice to the search: enough stretches that the
// threads end close together, but each at least a window long, since a thread that starts
// afresh on a stretch first inserts the window before it.
[[nodiscard]] uint32_t DefaultStretchPixels(uint32_t pixelCount, uint32_t threads) noexcept;

// Fills `tokens` with exactly what MatchFinder::FindMatches writes, returns the number of words
// and sets `found` to the matches by plane. The image is cut into stretches of `stretchPixels`
// pixels (0: DefaultStretchPixels), searched by up to `threads` threads of their own, all joined
// before it returns; a failure in one of them is raised here unchanged.
//
// How the result stays exact: the search at a position depends only on the plane bytes of the
// window before it (every position is inserted, whether a match covers it or not), so a thread
// that inserts the window before its stretch finds there what the single walk finds. The path
// of token starts from a stretch's first pixel may differ from the single walk's for a few
// tokens, but two paths that share a position share everything after it. So the thread that
// finished the stretch before goes on past its end until its path lands on a position of the
// next stretch's path; the tokens of that stretch before the meeting are dropped. Paths that
// never meet only cost time: the earlier path simply carries on.
//
// `alongside`, when given, is other work that one of the threads does before it joins the search
// (so that the threads never outnumber `threads`); with one thread it runs first.
[[nodiscard]] uint32_t FindMatchesInParallel(const SearchPlanes& planes,
                                             const MatchSettings& settings, uint32_t threads,
                                             uint32_t stretchPixels, std::span<uint16_t> tokens,
                                             MatchCounters& found,
                                             const std::function<void()>& alongside = {});

}  // namespace quenpix
