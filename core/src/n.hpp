// find_n: the first offset p with haystack[p .. p + m - 1] == needle[0 .. m - 1].
//
// The pieces, one file each:
//   n_verify.hpp         a window compared with the needle; the candidates of
//                        a mask compared in order, within a budget beyond
//                        which Two-Way (two_way.hpp) searches the rest;
//   n_filter_choice.hpp  which needle bytes a filter tests (by the byte-rank
//                        table or by counting the haystack), and how many;
//                        filter_policy.hpp holds every threshold of that;
//   n_steps.hpp          the vector steps that turn a filter into candidates,
//                        and the phases that switch filters when one proves
//                        weak;
//   n_short.hpp          haystacks that leave at most one vector step of
//                        windows;
//   n.hpp (this file)    the drivers that choose among them.
//
// Needles of 0 to 3 bytes are dispatched (empty: 0; longer than the haystack:
// not found; 1 to 3 bytes: find_one/two/three). Longer needles are filtered:
// lane k of a candidate mask at block offset b is set when the anchors (a
// few needle bytes) match at b + k; a candidate is then tested on a check
// byte and compared in full. Every occurrence is a candidate of any choice
// of anchors, so the choice steers speed only.
//
// The 16-byte variants filter on the first, second and last bytes with the
// likely rarest inner byte as the check, and swap the second and the check
// after too many false alarms (find_long). The wide variants (is_wide):
//   - a haystack that leaves at most one vector step of windows:
//     find_in_few_windows (n_short.hpp);
//   - below kRareAnchorsFrom bytes: the plain prefix (plain_prefix: the
//     first, second and last bytes over the first few hundred positions,
//     every candidate compared in full, until a few have failed), then two
//     anchors chosen by rank, three after a few false alarms (find_unranked,
//     find_unranked_partnered from kPartnerFrom bytes);
//   - from kRareAnchorsFrom bytes: the plain prefix in a small frame of its
//     own (find_long_prefixed), then the ranked search of what it left
//     (find_ranked_after_prefix, find_long_rare): the rarest needle bytes by
//     rank, chosen again from counts of the haystack when they prove weak
//     (rare_wide_phase). The Zen 4 route (halves.cpp) joins one variant's
//     prefix to another's ranked search through these two pieces.
// After a prefix, the search goes on from the block offset at or just
// before the prefix's end whose loads are aligned, or after one unaligned
// step when the prefix stopped within its first block (align_after_prefix).
// With W-byte vectors the wide phase takes 4W positions per step while
// 4W + m - 1 bytes remain, the narrow phase W positions, and the fewer than
// W windows left are compared one by one (16-byte variants) or in one more
// overlapping step (finish_long).
//
// Candidates are verified in increasing position (the blocks of a wide step
// in address order, the lanes of a mask lowest first), so the first that
// verifies is the first occurrence. Worst case: when nearly every position
// is a candidate that fails late, verification alone would cost n * m; the
// budget (VerifyBudget) hands the rest to Two-Way first, after at most one
// re-choice of the filter, so every search stays O(n + m).
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "filter_policy.hpp"
#include "n_filter_choice.hpp"
#include "n_short.hpp"
#include "n_steps.hpp"
#include "n_verify.hpp"
#include "one.hpp"
#include "probe.hpp"
#include "qarvo/search.hpp"
#include "rare_bytes.hpp"
#include "three.hpp"
#include "two.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The plain filter's blocks from 0 while fewer than `positions` positions
// (kPlainPrefix or kShortPlainPrefix) are examined (and a whole block fits),
// lowest position first. Returns the match, or not found with `end` set to
// the first position not examined: the end of the prefix, or the candidate
// after the last miss allowed.
template <class V>
[[gnu::always_inline]] inline SearchResult plain_prefix(const std::uint8_t* data, std::size_t n,
                                                        ByteRange needle, std::size_t positions,
                                                        std::size_t& end) noexcept {
    constexpr std::size_t W = V::kWidth;
    static_assert(kPlainPrefix % W == 0 && kShortPlainPrefix % W == 0);
    const std::size_t m = needle.size;
    const std::size_t last = m - 1;
    const Anchor<V> second = Anchor<V>::at(needle, 1);
    const Filter<V> filter{Anchor<V>::at(needle, 0), second, Anchor<V>::at(needle, last), second};
    std::size_t misses = 0;
    std::size_t b = 0;
    for (; b < positions && n - b >= W + last; b += W) {
        const typename V::Mask c = candidates<V>(data, n, b, filter);
        for (auto lanes = V::lanes(c); !V::empty(lanes); lanes = V::drop_first(lanes)) {
            const std::size_t p = b + V::first(lanes);
            if (equal_window(data + p, needle)) {
                return SearchResult::at(p);
            }
            ++misses;
            if (misses == kPlainMisses || misses * m > kPlainBytes) {
                QARVO_PROBE_PATH(kPlainPrefixGaveWay);
                end = p + 1;
                return SearchResult::not_found();
            }
        }
    }
    end = b;
    return SearchResult::not_found();
}

// The cursor after the plain prefix (every position before `i` rejected),
// moved to a block offset whose loads of the first anchor are aligned: back
// by fewer than W positions, or, when the prefix stopped before that many,
// past one unaligned step at `i` (as verify<V, kStopWhenSpent>, a budget
// spent there leaves the cursor at the candidate not yet compared). Returns
// true when that step decided the search. Precondition: the step at `i` fits
// (n - i >= W + m - 1).
template <class V, bool kStopWhenSpent>
[[gnu::always_inline]] inline bool align_after_prefix(const std::uint8_t* data, std::size_t n,
                                                      ByteRange needle, const Filter<V>& filter,
                                                      std::size_t& i, VerifyBudget& budget,
                                                      SearchResult& result) noexcept {
    const std::uint8_t* const anchor = data + filter.first.offset;
    const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(anchor + i) % V::kWidth;
    if (misalignment <= i) {
        i -= misalignment;
        return false;
    }
    assert(n - i >= V::kWidth + needle.size - 1);
    std::size_t resume = 0;
    const typename V::Mask c = candidates<V>(data, n, i, filter);
    if (V::any(c) && verify<V, kStopWhenSpent>(data, n, needle, refine<V>(data, n, filter, c, i), i,
                                               budget, result, &resume)) {
        if (result.found() || !kStopWhenSpent) {
            return true;
        }
        i = resume;
        return false;
    }
    i += aligned_restart<V>(anchor + i);
    return false;
}

// The wide backends' ranked search of a haystack of kRareAnchorsFrom bytes
// or more whose plain prefix the caller has searched (`haystack` starts
// where that prefix stopped; find_ranked_after_prefix): the
// filter on the needle's rarest bytes (rare_wide_phase) from its first
// position, or after one unaligned step, from where the rarest byte's loads
// are aligned. Precondition: n - W >= 4W + m - 1.
template <class V, class... Narrower>
SearchResult find_long_rare(ByteRange haystack, ByteRange needle) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    const std::size_t last = needle.size - 1;
    static_assert(V::kAlignLoads);
    assert(n - W >= 4 * W + last);
    (void)W;
    (void)last;
    std::size_t i = 0;
    Filter<V> filter = rare_filter<V>(needle, rarest_by_rank(needle, rank_scan_limit(n)));
    const std::size_t tested = anchors_to_test_by_rank(filter);
#if QARVO_SEARCH_PROBES
    if (tested == 1) {
        QARVO_PROBE_PATH(kRankedOneAnchor);
    } else if (tested == 2) {
        QARVO_PROBE_PATH(kRankedTwoAnchors);
    } else {
        QARVO_PROBE_PATH(kRankedThreeAnchors);
    }
#endif
    VerifyBudget budget{needle.size};
    SearchResult result = SearchResult::not_found();
    if (align_after_prefix<V, true>(data, n, needle, filter, i, budget, result)) {
        return result;
    }
    if (rare_wide_phase<V>(data, n, needle, filter, tested, i, budget, result) ==
        WideExit::kDecided) {
        return result;
    }
    return finish_long<V, Narrower...>(data, n, needle, filter, i, budget);
}

// The wide backends' search of a haystack below kRareAnchorsFrom bytes: the
// plain prefix where there is room for the wide phase (kPlainPrefix
// positions with kPartnered, for haystacks of kPartnerFrom bytes and up,
// kShortPlainPrefix below), then short_filter's two anchors
// (partnered_filter's with kPartnered), and three after a few false alarms.
// Kept apart from the ranked search (find_long_rare): this path's time on
// short haystacks is mostly fixed costs, and as one function with the ranked
// search it moved with every change there (core/TUNING.md).
// Precondition: 4 <= m <= n, n - m >= W - 1.
template <class V, bool kPartnered, class... Narrower>
[[gnu::always_inline]] inline SearchResult find_unranked(ByteRange haystack,
                                                         ByteRange needle) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    const std::size_t last = m - 1;
    static_assert(V::kAlignLoads);
    assert(m >= 4 && m <= n && n - m >= W - 1);
    std::size_t i = 0;
    // Long enough for the wide phase from any restart offset: the plain
    // prefix, then block offsets aligned for the first anchor's loads.
    // Positions examined twice are harmless (each failed the first time).
    const bool aligning = n - W >= 4 * W + last;
    if (aligning) {
        if (const SearchResult early =
                plain_prefix<V>(data, n, needle, kPartnered ? kPlainPrefix : kShortPlainPrefix, i);
            early.found()) {
            return early;
        }
    }
    const std::size_t rare_offset =
        rarest_inner_offset(needle, kPartnered ? kPartneredScan : kShortScan);
    const Filter<V> filter = [&] {
        if constexpr (kPartnered) {
            return partnered_filter<V>(needle, rare_offset);
        } else {
            return short_filter<V>(needle, rare_offset);
        }
    }();
    VerifyBudget budget{m};
    SearchResult result = SearchResult::not_found();
    if (aligning && align_after_prefix<V, false>(data, n, needle, filter, i, budget, result)) {
        return result;
    }
    WideExit exit = wide_steps<V, true, false, 2, kShortFalseAlarmSlack>(data, n, needle, filter, i,
                                                                         budget, result);
    if (exit == WideExit::kFilterWeak) {
        QARVO_PROBE_PATH(kUnrankedThirdAnchor);
        exit = wide_steps<V, false>(data, n, needle, filter, i, budget, result);
    }
    if (exit == WideExit::kDecided) {
        return result;
    }
    return finish_long<V, Narrower...>(data, n, needle, filter, i, budget);
}

// find_unranked from kPartnerFrom bytes on, out of line: inlined as a
// second copy, it slowed the shorter haystacks' copy (the real-data cases
// at 1 KiB).
template <class V, class... Narrower>
[[gnu::noinline]] SearchResult find_unranked_partnered(ByteRange haystack,
                                                       ByteRange needle) noexcept {
    return find_unranked<V, true, Narrower...>(haystack, needle);
}

// The filtered search. Precondition: 4 <= m <= n.
template <class V, class... Narrower>
SearchResult find_long(ByteRange haystack, ByteRange needle) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    assert(m >= 4 && m <= n && data != nullptr && needle.data != nullptr);
    if constexpr (is_wide<V>) {
        // (Too short for one step of this width: find_n took find_in_few_windows.
        // From kRareAnchorsFrom bytes on, find_n took find_long_prefixed,
        // unless the needle leaves too few windows for its steps: those few
        // take the short search, which checks its own room.)
        if (n >= kPartnerFrom) {
            return find_unranked_partnered<V, Narrower...>(haystack, needle);
        }
        return find_unranked<V, false, Narrower...>(haystack, needle);
    } else {
        static_assert(!V::kAlignLoads);
        // Too short for one vector step of this width: before any per-call
        // setup.
        if (n - m < W - 1) {
            return scan_windows(data, n, 0, needle);
        }
        Filter<V> filter = fixed_filter<V>(needle, rarest_inner_offset(needle, rare_scan_limit(n)));
        VerifyBudget budget{m};
        SearchResult result = SearchResult::not_found();
        std::size_t i = 0;
        WideExit exit = wide_steps<V, true>(data, n, needle, filter, i, budget, result);
        if (exit == WideExit::kFilterWeak) {
            QARVO_PROBE_PATH(kSwappedAfterFalseAlarms);
            filter = filter.swapped();
            exit = wide_steps<V, false>(data, n, needle, filter, i, budget, result);
        }
        if (exit == WideExit::kDecided) {
            return result;
        }
        return finish_long<V, Narrower...>(data, n, needle, filter, i, budget);
    }
}

// The wide backends' ranked search of what their plain prefix left of a
// haystack of kRareAnchorsFrom bytes or more (`end`: the first position it
// did not examine), out of line: see find_n. The Zen 4 route (halves.cpp)
// runs one variant's after another's prefix (ranked_after_prefix_part).
// Precondition: after `end`, room for one wide step besides the first block.
template <class V, class... Narrower>
[[gnu::noinline]] SearchResult find_ranked_after_prefix(ByteRange haystack, ByteRange needle,
                                                        std::size_t end) noexcept {
    const ByteRange rest{haystack.data + end, haystack.size - end};
    const SearchResult later = find_long_rare<V, Narrower...>(rest, needle);
    return later.found() ? SearchResult::at(end + later.offset()) : later;
}

// The wide backends' search of a haystack of kRareAnchorsFrom bytes or more:
// the plain prefix in a small frame of its own, so that a word found there
// never pays for the entry and exit of the ranked search, whose frame holds
// the filters' vectors (the real-data cases of a common word found near the
// start of 100 KiB; core/TUNING.md), then the ranked search of the rest.
// Out of line, so that find_n of shorter haystacks keeps its own small
// frame. Precondition: room for one wide step besides the first block after
// kPlainPrefix positions.
template <class V, class... Narrower>
[[gnu::noinline]] SearchResult find_long_prefixed(ByteRange haystack, ByteRange needle) noexcept {
    std::size_t end = 0;
    if (const SearchResult early =
            plain_prefix<V>(haystack.data, haystack.size, needle, kPlainPrefix, end);
        early.found()) {
        return early;
    }
    return find_ranked_after_prefix<V, Narrower...>(haystack, needle, end);
}

template <class V, class... Narrower>
SearchResult find_n(ByteRange haystack, ByteRange needle) noexcept {
    assert(needle.data != nullptr || needle.size == 0);
    const std::size_t m = needle.size;
    if (m == 0) {
        return SearchResult::at(0);
    }
    if (m > haystack.size) {
        return SearchResult::not_found();
    }
    const std::uint8_t* const bytes = needle.data;
    switch (m) {
        case 1:
            return find_one<V, Narrower...>(haystack, bytes[0]);
        case 2:
            return find_two<V, Narrower...>(haystack, bytes[0], bytes[1]);
        case 3:
            return find_three<V, Narrower...>(haystack, bytes[0], bytes[1], bytes[2]);
        default:
            break;
    }
    // A wide variant's haystack too short for one vector step of its width
    // (or, with masked loads, for at most one) is searched here, before any
    // per-call setup of the filtered search, whose frame alone would cost
    // more than the search.
    if constexpr (is_wide<V>) {
        if (haystack.size - m < few_windows<V>) {
            return find_in_few_windows<V, Narrower...>(haystack.data, haystack.size, needle);
        }
    }
    if constexpr (is_wide<V>) {
        constexpr std::size_t W = V::kWidth;
        const std::size_t n = haystack.size;
        if (n >= kRareAnchorsFrom && n - kPlainPrefix - W >= 4 * W + (m - 1)) {
            return find_long_prefixed<V, Narrower...>(haystack, needle);
        }
    }
    return find_long<V, Narrower...>(haystack, needle);
}

// The wide variants' pieces of a long search, for the routes that the
// dispatcher assembles from two variants (LongSearchParts, variants.hpp;
// halves.cpp). plain_prefix_part: the plain prefix over the first
// kPlainPrefix positions, as find_long_prefixed runs it; the match, or not
// found with `end` set to the first position not examined.
// Precondition: 4 <= m <= n.
template <class V>
SearchResult plain_prefix_part(ByteRange haystack, ByteRange needle, std::size_t& end) noexcept {
    static_assert(is_wide<V>);
    assert(needle.size >= 4 && needle.size <= haystack.size);
    return plain_prefix<V>(haystack.data, haystack.size, needle, kPlainPrefix, end);
}

// The ranked search of what a plain prefix that stopped at `end` left of the
// haystack, with no prefix of its own; the whole find_n when that leaves no
// room for one wide step (a needle nearly as long as the haystack), which
// examines the prefix's few positions again. Precondition: 4 <= m <= n,
// end <= n.
template <class V, class... Narrower>
SearchResult ranked_after_prefix_part(ByteRange haystack, ByteRange needle,
                                      std::size_t end) noexcept {
    static_assert(is_wide<V>);
    constexpr std::size_t W = V::kWidth;
    assert(needle.size >= 4 && needle.size <= haystack.size && end <= haystack.size);
    if (haystack.size - end < 5 * W + needle.size - 1) {
        return find_n<V, Narrower...>(haystack, needle);
    }
    return find_ranked_after_prefix<V, Narrower...>(haystack, needle, end);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
