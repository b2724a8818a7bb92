// Probes of the long search, for the tests only: the bytes that find_n's
// full comparisons, its Two-Way fallback and the scans of a short needle's
// starts compare, and the paths they (or the sieve of find_two and
// find_three) took.
// They exist where QARVO_SEARCH_PROBES is defined, which only the core's
// test build does (qarvo_core_probed, core/CMakeLists.txt); elsewhere each
// probe is an empty statement, so the core that the module links has none.
#pragma once

#include <cstddef>

namespace qarvo::detail {

// The paths find_n can take that the tests force (filter_choice_test.cpp),
// and those of find_two's and find_three's sieve (sieve_test.cpp), one bit
// each in SearchProbe::paths.
enum class SearchPath : unsigned {
    kPlainPrefixGaveWay,         // the plain prefix stopped at its misses (plain_prefix)
    kUnrankedThirdAnchor,        // find_unranked's two anchors took a third (false alarms)
    kSwappedAfterFalseAlarms,    // a 16-byte variant swapped its check and middle bytes
    kRankedOneAnchor,            // the ranked search tested one anchor by rank
    kRankedTwoAnchors,           // two by rank
    kRankedThreeAnchors,         // three by rank
    kCountedAfterRankedPrefix,   // the counts after kRankedPrefix bytes (rfind_n: windows from
                                 // the end) chose fewer anchors
    kRecountedAfterFalseAlarms,  // the ranked filter proved weak by false alarms: recounted
    kRecountedAfterSpentBudget,  // the ranked filter spent the budget: recounted
    kRecountedAgain,             // rfind_n: the counted filter proved weak too: counted again
    kReverseEdgeAnchors,         // rfind_n tested the needle's edges, unranked
    kPlainSuffixGaveWay,         // rfind_n: the plain suffix stopped at its misses (plain_suffix)
    kTwoWay,                     // Two-Way searched the rest
    // MatchScan (matches.cpp):
    kShortStarts,         // a chunk of a short needle's starts (find_starts, count_starts)
    kSparseStartsJumped,  // a sparse chunk of starts: the next match by find_n
    // find_two, find_three and find_n's counted choice:
    kSieveGuessedLoneByte,  // find_two/three tested a byte text uses alone, on a guess
    kSieveGaveUp,           // a sieve of find_two/three gave up after false alarms
    kCountedPairAnchors,    // the counts chose a rare pair of adjacent needle bytes
    kDepartureAnchor,       // a recount after weak anchors: the byte where a window the
                            // counted ones let through departs from the needle
    // find_folded and rfind_folded:
    kFoldedRecounted,                 // the anchors proved weak: chosen again by counts
    kFoldedThirdByRank,               // ...near the end of the range: a third anchor by rank
    kFoldedCountedAfterRankedPrefix,  // the counts after kRankedPrefix bytes chose one anchor
};

#if QARVO_SEARCH_PROBES
// What the searches since the last reset did. Plain, not atomic: the tests
// that read it search on one thread.
struct SearchProbe {
    std::size_t compared = 0;     // bytes compared in full, and by Two-Way
    unsigned paths = 0;           // 1 << SearchPath, for each path taken
    std::size_t multi_steps = 0;  // MultiScan: automaton steps and bytes the prefilter passed

    bool took(SearchPath path) const noexcept {
        return (paths >> static_cast<unsigned>(path) & 1u) != 0;
    }
};
extern SearchProbe g_search_probe;  // probe.cpp

#define QARVO_PROBE_COMPARED(bytes) (::qarvo::detail::g_search_probe.compared += (bytes))
#define QARVO_PROBE_PATH(path)                \
    (::qarvo::detail::g_search_probe.paths |= \
     1u << static_cast<unsigned>(::qarvo::detail::SearchPath::path))
#define QARVO_PROBE_MULTI_STEPS(steps) (::qarvo::detail::g_search_probe.multi_steps += (steps))
#else
#define QARVO_PROBE_COMPARED(bytes) static_cast<void>(0)
#define QARVO_PROBE_MULTI_STEPS(steps) static_cast<void>(0)
#define QARVO_PROBE_PATH(path) static_cast<void>(0)
#endif

}  // namespace qarvo::detail
