// rfind_n: the last offset p with haystack[p .. p + m - 1] == needle[0 .. m - 1].
//
// Needles of 0 to 3 bytes are dispatched (empty: n; longer than the haystack:
// not found; 1 to 3 bytes: rfind_one/two/three). Longer needles use a filter,
// as find_n does (n.hpp), over blocks of windows from the end down: lane j of
// the candidate mask at offset b is set when the window at b + j agrees with
// the needle on its tested anchors. The anchors are the four needle bytes
// likely rarest in the data (byte_rank.hpp, rare_bytes.hpp), rarest first; the
// first one, two or three are tested at every window (one when the rarest is a
// byte text does not use, two when the second is rare too, as find_n's
// anchors_to_test_by_rank), the others refine a block's candidates before any
// is compared in full. Below kReverseEdgeAnchorsBelow windows the anchors are
// the needle's edges instead, unranked (the first, last and second bytes
// tested, the second-to-last refining): the ranking would cost more than it
// saves there. From kCountFrom windows, the ranked anchors search the last
// kRankedPrefix windows, and the rest takes anchors chosen by counting the
// bytes below them when those test fewer (as find_n's wide phase does from
// its start) and the ranked ones did not prove weak there. Candidates are
// compared highest window first, so the first that verifies is the last
// occurrence. With W-byte vectors:
//   main loop, while 4W windows remain below the cursor: four blocks, one test
//     of their candidate masks ORed together;
//   one block per step while W windows remain;
//   the fewer than W windows left: for W = 16 compared one by one, from the
//     highest; a wider variant (is_wide) takes one more block over the first
//     W windows, with the lanes of windows already examined cleared.
// A wide variant with kReverseEdgeAnchorsBelow windows or more first
// searches the last 4W with the edge anchors, in one step, ahead of any setup
// (plain_suffix), and searches the whole haystack where that found nothing.
// The filtered search starts with one block over the last W windows and, in
// a long haystack, goes on from the highest block offset below them whose
// loads of the rarest anchor are W-aligned (as rfind_one). A haystack with
// fewer windows than one block (a whole block, with masked loads) takes
// short_windows_last before any ranking: the first, second, last and
// second-to-last bytes tested at once, with the narrower step types as the
// forward short_long.
//
// Worst case: when nearly every window is a candidate that fails late,
// verification alone would cost n * m. The bytes compared are counted
// (VerifyBudget, n.hpp); once they exceed a fixed multiple of the distance
// covered from the end, the haystack from offset 0 up to the end of the
// current candidate's window is searched again with anchors chosen by
// counting the bytes just below it (RechoosingProbe; the same when the
// ranked anchors let through more false alarms than find_n allows its
// filter; kReverseCounts times at most), and when the last such pass's
// budget runs out too, goes to the linear-time Two-Way search run from the
// end (two_way_search_last, worst_case.hpp).
// Every window above that candidate has been rejected already, so its answer
// is the last occurrence.
//
// The verification and the hand-over go through a Probe, so that a test can
// count the bytes compared, Two-Way's included, on the code that runs here
// (rfind_long_with): PlainProbe counts nothing.
#pragma once

#include <cassert>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <utility>

#include "byte_rank.hpp"
#include "n.hpp"
#include "qarvo/search.hpp"
#include "rare_bytes.hpp"
#include "reverse_two.hpp"
#include "vector.hpp"
#include "worst_case.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// What rfind_n does with the bytes it compares and the haystack it hands to
// Two-Way. compared(k): k more bytes compared in full; rest(h, x): the last
// occurrence of x in h.
struct PlainProbe {
    [[gnu::always_inline]] void compared(std::size_t) noexcept {}
    SearchResult rest(ByteRange haystack, ByteRange needle) noexcept {
        return two_way_search_last(haystack, needle);
    }
};

// The four needle bytes a reverse filter tests, most selective first: the
// first kTested at every window, the others on the candidates.
struct ReverseAnchors {
    static constexpr std::size_t kCount = 4;
    std::size_t offset[kCount];
    std::uint8_t value[kCount];

    // Each offset passes through a register the compiler cannot see into.
    // Left to itself, GCC copied the four offsets with one 32-byte load from
    // the 8-byte stores that had just written them (rarest_offsets' result),
    // a store forward that fails and stalls every long rfind_n at its start
    // (compare_matches.py's rfind of four NULs in 100 KiB of a binary,
    // found in the last windows; core/TUNING.md).
    static ReverseAnchors at(ByteRange needle, const std::size_t (&offsets)[kCount]) noexcept {
        ReverseAnchors a;
        for (std::size_t k = 0; k < kCount; ++k) {
            std::size_t o = offsets[k];
            asm("" : "+r"(o));
            assert(o < needle.size);
            a.offset[k] = o;
            a.value[k] = needle.data[o];
        }
        return a;
    }
};

// The anchors' bytes splat into vectors of the type T.
template <class T>
struct ReverseSplats {
    typename T::Vec byte[ReverseAnchors::kCount];

    static ReverseSplats of(const ReverseAnchors& a) noexcept {
        ReverseSplats s;
        for (std::size_t k = 0; k < ReverseAnchors::kCount; ++k) {
            s.byte[k] = T::splat(a.value[k]);
        }
        return s;
    }
};

// Lanes of the block at b whose windows match anchors kFrom .. kTo - 1.
// Precondition: b + W + m - 1 <= n.
template <class T, std::size_t kFrom, std::size_t kTo>
[[gnu::always_inline]] inline typename T::Mask anchor_mask(const std::uint8_t* data, std::size_t n,
                                                           std::size_t b, const ReverseAnchors& a,
                                                           const ReverseSplats<T>& s) noexcept {
    static_assert(kFrom < kTo && kTo <= ReverseAnchors::kCount);
    typename T::Mask m = T::eq(load_at<T>(data, n, b + a.offset[kFrom]), s.byte[kFrom]);
    for (std::size_t k = kFrom + 1; k < kTo; ++k) {
        m = T::and_(m, T::eq(load_at<T>(data, n, b + a.offset[k]), s.byte[k]));
    }
    return m;
}

// Compares the needle at each window of `lanes` (block offset `base`),
// highest first. Returns true with `result` set when the search is decided: a
// window verified, or the budget ran out and Two-Way answered for the
// windows from the candidate down. `positions` is the number of windows of
// the whole haystack, from whose end the budget counts.
// Precondition: each window of `lanes` lies inside the haystack.
template <class T, class Probe>
[[gnu::always_inline]] inline bool verify_last(const std::uint8_t* data, ByteRange needle,
                                               typename T::LaneSet lanes, std::size_t base,
                                               std::size_t positions, VerifyBudget& budget,
                                               SearchResult& result, Probe& probe) noexcept {
    const std::size_t m = needle.size;
    for (; !T::empty(lanes); lanes = T::drop_last(lanes)) {
        const std::size_t p = base + T::last(lanes);
        assert(p < positions);
        if (budget.exhausted_at(positions - p)) [[unlikely]] {
            result = probe.rest(ByteRange{data, p + m}, needle);
            return true;
        }
        budget.compared += m;
        probe.compared(m);
        if (equal_window(data + p, needle)) {
            result = SearchResult::at(p);
            return true;
        }
    }
    return false;
}

// The candidates of the block at b that every anchor passes.
// Precondition: b + W + m - 1 <= n.
template <class T>
[[gnu::always_inline]] inline typename T::LaneSet all_anchor_lanes(
    const std::uint8_t* data, std::size_t n, std::size_t b, const ReverseAnchors& a,
    const ReverseSplats<T>& s) noexcept {
    return T::lanes(anchor_mask<T, 0, ReverseAnchors::kCount>(data, n, b, a, s));
}

// `lanes` without the lanes at and above `count`, where lane sets are bit
// masks; elsewhere unchanged (the lanes left in fail again, costing only time).
template <class T>
[[gnu::always_inline]] inline typename T::LaneSet lanes_below(typename T::LaneSet lanes,
                                                              std::size_t count) noexcept {
    if constexpr (has_bit_lanes<T>) {
        using LaneSet = typename T::LaneSet;
        return count >= 8 * sizeof(LaneSet)
                   ? lanes
                   : static_cast<LaneSet>(lanes & ((LaneSet{1} << count) - 1));
    } else {
        (void)count;
        return lanes;
    }
}

// The windows 0 .. end - 1 one by one, highest first, each tested on the
// anchors before it is compared in full.
template <class Probe>
[[gnu::always_inline]] inline bool windows_last(const std::uint8_t* data, ByteRange needle,
                                                const ReverseAnchors& a, std::size_t end,
                                                std::size_t positions, VerifyBudget& budget,
                                                SearchResult& result, Probe& probe) noexcept {
    const std::size_t m = needle.size;
    for (std::size_t p = end; p-- > 0;) {
        bool pass = true;
        for (std::size_t k = 0; k < ReverseAnchors::kCount && pass; ++k) {
            pass = data[p + a.offset[k]] == a.value[k];
        }
        if (!pass) {
            continue;
        }
        if (budget.exhausted_at(positions - p)) [[unlikely]] {
            result = probe.rest(ByteRange{data, p + m}, needle);
            return true;
        }
        budget.compared += m;
        probe.compared(m);
        if (equal_window(data + p, needle)) {
            result = SearchResult::at(p);
            return true;
        }
    }
    return false;
}

// The anchors of a short haystack: the first, last, second and second-to-last
// needle bytes (four offsets, distinct since m >= 4), without the ranking of
// the whole needle, whose cost would exceed the search's. The commonest of
// the four by rank comes last, so that a filter testing three leaves it to
// the candidates (a Cyrillic lead byte at either end of a Russian needle).
inline ReverseAnchors edge_anchors(ByteRange needle) noexcept {
    const std::size_t m = needle.size;
    std::size_t offsets[ReverseAnchors::kCount] = {0, m - 1, 1, m - 2};
    std::size_t commonest = ReverseAnchors::kCount - 1;
    for (std::size_t k = 0; k + 1 < ReverseAnchors::kCount; ++k) {
        const bool more =
            kByteRank.of[needle.data[offsets[k]]] > kByteRank.of[needle.data[offsets[commonest]]];
        commonest = more ? k : commonest;
    }
    std::swap(offsets[commonest], offsets[ReverseAnchors::kCount - 1]);
    return ReverseAnchors::at(needle, offsets);
}

// The most windows that a wide variant's short path takes: a whole vector
// with masked loads, fewer than one otherwise.
template <class V>
inline constexpr std::size_t short_windows_last_max =
    has_masked_load<V> ? V::kWidth : V::kWidth - 1;

// A haystack of `positions` windows, positions <= short_windows_last_max<T>
// for a wide T: one masked load per anchor where the backend has them;
// otherwise two overlapping steps of the next narrower width, down the list
// to one with exact loads, or window by window where it ends without one.
template <class Probe, class T, class... Narrower>
[[gnu::always_inline]] inline SearchResult short_windows_last(const std::uint8_t* data,
                                                              std::size_t n, ByteRange needle,
                                                              std::size_t positions,
                                                              Probe& probe) noexcept {
    const ReverseAnchors a = edge_anchors(needle);
    VerifyBudget budget{needle.size};
    SearchResult result = SearchResult::not_found();
    if constexpr (has_masked_load<T>) {
        assert(positions <= T::kWidth);
        const ReverseSplats<T> s = ReverseSplats<T>::of(a);
        typename T::Mask c = T::first_lanes(positions);
        for (std::size_t k = 0; k < ReverseAnchors::kCount; ++k) {
            c = T::and_(c, T::eq(load_first_at<T>(data, n, a.offset[k], positions), s.byte[k]));
        }
        verify_last<T>(data, needle, T::lanes(c), 0, positions, budget, result, probe);
        return result;
    } else if constexpr (sizeof...(Narrower) > 0) {
        using N = std::tuple_element_t<0, std::tuple<Narrower...>>;
        if (positions >= N::kWidth) {
            assert(positions < 2 * N::kWidth);
            const ReverseSplats<N> s = ReverseSplats<N>::of(a);
            const std::size_t upper = positions - N::kWidth;
            if (verify_last<N>(data, needle, all_anchor_lanes<N>(data, n, upper, a, s), upper,
                               positions, budget, result, probe)) {
                return result;
            }
            verify_last<N>(data, needle,
                           lanes_below<N>(all_anchor_lanes<N>(data, n, 0, a, s), upper), 0,
                           positions, budget, result, probe);
            return result;
        }
        return short_windows_last<Probe, Narrower...>(data, n, needle, positions, probe);
    } else {
        windows_last(data, needle, a, positions, positions, budget, result, probe);
        return result;
    }
}

// Whether a probe chooses the anchors again when the filter proves weak by
// false alarms (RechoosingProbe's weak(h, x): the last occurrence of x in h,
// every window above h's having been rejected), so that the filter counts
// them.
template <class Probe>
concept rechooses_when_weak = requires(Probe& probe, ByteRange range) {
    { probe.weak(range, range) } -> std::same_as<SearchResult>;
};

// The shortest haystack (in windows) whose main loop a wide variant aligns.
template <class V>
inline constexpr std::size_t aligned_windows_from = 8 * V::kWidth;

// The filtered search with the first kTested anchors tested at every window;
// inlined where the anchors are chosen, which a call through memory made
// wait for them (rfind_filtered_long).
// Precondition: 4 <= m <= n; for a wide V, more windows than
// short_windows_last_max<V>.
template <class V, std::size_t kTested, class Probe>
[[gnu::always_inline]] inline SearchResult rfind_filtered(const std::uint8_t* data, std::size_t n,
                                                          ByteRange needle, const ReverseAnchors& a,
                                                          Probe& probe) noexcept {
    using Mask = typename V::Mask;
    constexpr std::size_t W = V::kWidth;
    constexpr std::size_t K = ReverseAnchors::kCount;
    const std::size_t positions = n - needle.size + 1;
    const ReverseSplats<V> s = ReverseSplats<V>::of(a);
    VerifyBudget budget{needle.size};
    SearchResult result = SearchResult::not_found();
    const auto refined = [&](Mask c, std::size_t b) {
        return V::lanes(V::and_(c, anchor_mask<V, kTested, K>(data, n, b, a, s)));
    };
    std::size_t end = positions;
    if constexpr (is_wide<V>) {
        // The last W windows first: a match near the end costs one block.
        const std::size_t upper = positions - W;
        if (const Mask c = anchor_mask<V, 0, kTested>(data, n, upper, a, s); V::any(c)) {
            if (verify_last<V>(data, needle, refined(c, upper), upper, positions, budget, result,
                               probe)) {
                return result;
            }
        }
        end = upper;
        if constexpr (V::kAlignLoads) {
            // The lowest block offset at or above `upper` whose loads of the
            // rarest anchor are aligned: the windows from there to the end
            // have been examined.
            if (positions >= aligned_windows_from<V>) {
                const std::size_t misalignment =
                    reinterpret_cast<std::uintptr_t>(data + upper + a.offset[0]) % W;
                end = misalignment == 0 ? upper : upper + (W - misalignment);
            }
        }
    }
    // Windows end - 4W .. end - 1; the highest byte read is end + m - 2.
    const std::size_t steps_from = end;
    std::size_t false_alarms = 0;
    while (end >= 4 * W) {
        const std::size_t b = end - 4 * W;
        prefetch_behind(data, n, b);
        Mask c0 = anchor_mask<V, 0, kTested>(data, n, b, a, s);
        Mask c1 = anchor_mask<V, 0, kTested>(data, n, b + W, a, s);
        Mask c2 = anchor_mask<V, 0, kTested>(data, n, b + 2 * W, a, s);
        Mask c3 = anchor_mask<V, 0, kTested>(data, n, b + 3 * W, a, s);
        if (any_of_four<V>(c0, c1, c2, c3)) [[unlikely]] {
            const std::size_t compared_before = budget.compared;
            if (verify_last<V>(data, needle, refined(c3, b + 3 * W), b + 3 * W, positions, budget,
                               result, probe) ||
                verify_last<V>(data, needle, refined(c2, b + 2 * W), b + 2 * W, positions, budget,
                               result, probe) ||
                verify_last<V>(data, needle, refined(c1, b + W), b + W, positions, budget, result,
                               probe) ||
                verify_last<V>(data, needle, refined(c0, b), b, positions, budget, result, probe)) {
                return result;
            }
            if constexpr (rechooses_when_weak<Probe>) {
                // A step that verified nothing is a false alarm, and so is each
                // window that failed in full.
                false_alarms += 1 + (budget.compared - compared_before) / needle.size;
                if (false_alarms >
                        kFalseAlarmSlack + (steps_from - b) / (4 * W * kFalseAlarmShare) &&
                    b >= kSampleBytes) {
                    return probe.weak(ByteRange{data, b + needle.size - 1}, needle);
                }
            }
        }
        end = b;
    }
    while (end >= W) {
        const std::size_t b = end - W;
        if (const Mask c = anchor_mask<V, 0, kTested>(data, n, b, a, s); V::any(c)) {
            if (verify_last<V>(data, needle, refined(c, b), b, positions, budget, result, probe)) {
                return result;
            }
        }
        end = b;
    }
    assert(end < W);
    if (end == 0) {
        return SearchResult::not_found();
    }
    if constexpr (is_wide<V>) {
        // The first W windows, positions > W: those at and above `end` have
        // been examined.
        verify_last<V>(data, needle, lanes_below<V>(all_anchor_lanes<V>(data, n, 0, a, s), end), 0,
                       positions, budget, result, probe);
    } else {
        windows_last(data, needle, a, end, positions, budget, result, probe);
    }
    return result;
}

// Needle bytes ranked for the anchors: at least 8, up to one per 64 haystack
// bytes, as find_n's rank_scan_limit.
inline std::size_t reverse_rank_limit(std::size_t haystack_size) noexcept {
    constexpr std::size_t kLeast = 8;
    return haystack_size / 64 > kLeast ? haystack_size / 64 : kLeast;
}

// Anchors chosen from counts, and how many of them to test at every window.
struct ReverseChoice {
    ReverseAnchors anchors;
    std::size_t tested;
};

// The needle bytes rarest in the last kSampleBytes bytes of `haystack` (the
// next ones a search down from its end meets), and how many to test, by
// find_n's rule (anchors_to_test_by_count). With `lone_if_rare_below`, a
// byte the sample lacks is also tested alone when it is rare in the
// kLoneWindow bytes below the sample, as find_n's rare_nearby.
// Precondition: 4 <= m and m + kSampleBytes <= n + 1.
template <class V>
ReverseChoice counted_choice(ByteRange haystack, ByteRange needle,
                             bool lone_if_rare_below) noexcept {
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    assert(m >= 4 && m + kSampleBytes <= n + 1);
    const std::size_t from = n - kSampleBytes;
    const ByteCounts counts = needle_counts<V>(haystack.data, n, from, needle, m);
    const ReverseAnchors a = ReverseAnchors::at(needle, rarest_in_sample(needle, m, counts).at);
    const bool rare_below =
        lone_if_rare_below && counts.of[a.value[0]] == 0 && from >= kLoneWindow &&
        rare_in_window<V>(haystack.data, n, from, Anchor<V>::at(needle, a.offset[0]));
    return {a, anchors_to_test_by_count(a.value[0], a.value[1], counts, rare_below)};
}

// The counted choice `c` narrowed, as find_n's narrow_weak_filter does, to
// the needle byte where the windows of the sample (the kSampleBytes
// positions below the end of `haystack`) that its anchors let through
// depart from the needle, tested with its rarest anchor: where the needle
// copies a line of the haystack with a byte changed, every line passes the
// counted anchors (near_miss_sweep.py's JSON, searched in reverse). `c` as
// it was when none passes there. Precondition: 4 <= m, m + kSampleBytes <=
// n + 1, c.tested >= 2.
template <class V>
ReverseChoice departed_choice(ByteRange haystack, ByteRange needle, ReverseChoice c) noexcept {
    const std::size_t m = needle.size;
    assert(m >= 4 && m + kSampleBytes <= haystack.size + 1 && c.tested >= 2);
    const ReverseAnchors& a = c.anchors;
    const Filter<V> filter{Anchor<V>::at(needle, a.offset[0]), Anchor<V>::at(needle, a.offset[1]),
                           Anchor<V>::at(needle, a.offset[2]), Anchor<V>::at(needle, a.offset[3])};
    const std::size_t to = haystack.size - m + 1;  // one past the last window's position
    const std::size_t departs =
        departure_offset<V>(haystack.data, haystack.size, to - kSampleBytes, to, needle, filter,
                            c.tested < 3 ? c.tested : 3);
    if (departs == m) {
        return c;
    }
    QARVO_PROBE_PATH(kDepartureAnchor);
    std::size_t offsets[ReverseAnchors::kCount] = {departs, departs, departs, departs};
    std::size_t found = 1;
    for (std::size_t k = 0; k < ReverseAnchors::kCount; ++k) {
        if (found < ReverseAnchors::kCount && a.offset[k] != departs) {
            offsets[found++] = a.offset[k];
        }
    }
    return {ReverseAnchors::at(needle, offsets), 2};
}

// The probe of the first, ranked pass. Ranks describe text; on other data
// (binaries, Chinese text, where bytes text rarely uses are common) the
// anchors they pick can pass nearly every window. When the first pass's
// budget runs out at a candidate p, or its false alarms pile up above a block
// at p (weak), every window above p has been rejected: the rest,
// data[0 .. p + m - 1), is searched again with the needle bytes rarest in the
// kSampleBytes bytes just below p, counted. The counted pass may prove weak
// in turn, and count again, kCounts counts in all (kReverseCounts); only
// when the last pass's budget runs out does Two-Way take what is left
// (through `inner`, which never chooses again). Each pass compares a bounded
// number of bytes per window it passes over, so the whole stays linear.
// (Shown by compare_matches.py's rfind rows of binary and Chinese text,
// held-out needles, and rfind_vs_find.py.)
template <class V, class Probe, unsigned kCounts = kReverseCounts>
struct RechoosingProbe {
    static_assert(kCounts >= 1);
    Probe& inner;
    // Whether the filter this probe serves met data it is weak on: its
    // budget ran out or its false alarms piled up.
    bool proved_weak = false;

    [[gnu::always_inline]] void compared(std::size_t k) noexcept { inner.compared(k); }

    SearchResult rest(ByteRange haystack, ByteRange needle) noexcept {
        proved_weak = true;
        const std::size_t positions = haystack.size - needle.size + 1;
        if (positions < kSampleBytes) {
            return inner.rest(haystack, needle);  // too little left to pay for the count
        }
        QARVO_PROBE_PATH(kRecountedAfterSpentBudget);
        return counted(haystack, needle);
    }

    // The same, when the ranked anchors let through a false alarm in more
    // than one step of kFalseAlarmShare before the budget runs out: the
    // refinement by the other anchors rejects the candidates of a byte common
    // here (a UTF-8 lead byte in Chinese text, a NUL in a binary) before any
    // is compared in full, so the budget alone would let the weak filter run
    // to the start. Precondition: at least kSampleBytes windows.
    SearchResult weak(ByteRange haystack, ByteRange needle) noexcept {
        assert(haystack.size - needle.size + 1 >= kSampleBytes);
        proved_weak = true;
        QARVO_PROBE_PATH(kRecountedAfterFalseAlarms);
        return counted(haystack, needle);
    }

    SearchResult counted(ByteRange haystack, ByteRange needle) noexcept {
        if constexpr (kCounts < kReverseCounts) {
            QARVO_PROBE_PATH(kRecountedAgain);
        }
        // find_n's rule without its window below the sample: a byte the
        // sample lacks is tested alone only when the second would not
        // narrow it much. Searching down from the end after a filter proved
        // weak, the bytes rare just below the cursor were, in the Chinese
        // text of compare_matches.py, often common a few KiB further down,
        // where a lone anchor lets most windows through (core/TUNING.md).
        ReverseChoice c = counted_choice<V>(haystack, needle, false);
        if (c.tested >= 2 && haystack.size >= kDepartureFrom) {
            c = departed_choice<V>(haystack, needle, c);
        }
        if constexpr (kCounts > 1) {
            RechoosingProbe<V, Probe, kCounts - 1> next{inner};
            return filtered_by(c.tested, haystack, needle, c.anchors, next);
        } else {
            return filtered_by(c.tested, haystack, needle, c.anchors, inner);
        }
    }

    template <class Next>
    static SearchResult filtered_by(std::size_t tested, ByteRange haystack, ByteRange needle,
                                    const ReverseAnchors& a, Next& next) noexcept {
        switch (tested) {
            case 1:
                return rfind_filtered<V, 1>(haystack.data, haystack.size, needle, a, next);
            case 2:
                return rfind_filtered<V, 2>(haystack.data, haystack.size, needle, a, next);
            default:
                return rfind_filtered<V, 3>(haystack.data, haystack.size, needle, a, next);
        }
    }
};

// The filtered search of more windows than the short path takes: edge
// anchors below kReverseEdgeAnchorsBelow windows, ranked ones from there.
// One function with the filter's loop inlined, so that the anchors stay in
// registers on the way in.
template <class V, class Probe>
[[gnu::noinline]] SearchResult rfind_filtered_long(ByteRange haystack, ByteRange needle,
                                                   Probe& probe) noexcept {
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    const std::size_t positions = n - needle.size + 1;
    RechoosingProbe<V, Probe> rechoosing{probe};
    if (positions < kReverseEdgeAnchorsBelow) {
        QARVO_PROBE_PATH(kReverseEdgeAnchors);
        return rfind_filtered<V, 3>(data, n, needle, edge_anchors(needle), rechoosing);
    }
    const RareOffsets rarest = rarest_by_rank(needle, reverse_rank_limit(n));
    ReverseAnchors a = ReverseAnchors::at(needle, rarest.at);
    std::size_t tested = kByteRank.of[a.value[0]] < kAlienRank        ? 1
                         : kByteRank.of[a.value[1]] <= kTwoAnchorRank ? 2
                                                                      : 3;
    // A long haystack searches its last kRankedPrefix windows with the
    // ranked anchors, then counts the bytes just below them and takes the
    // counted anchors when they test fewer, as find_n does from its start
    // (rare_wide_phase): a byte that ranks as used by text and that this
    // data lacks (0xFF in UTF-8) is then tested alone. A match near the end
    // never pays for the count.
    std::size_t low = positions >= kCountFrom && tested >= 2 ? positions - kRankedPrefix : 0;
    std::size_t size = n;  // the windows searched are those from `low` in data[0 .. size)
    for (;;) {
        SearchResult found = SearchResult::not_found();
        const std::uint8_t* const from = data + low;
        switch (tested) {
            case 1:
                found = rfind_filtered<V, 1>(from, size - low, needle, a, rechoosing);
                break;
            case 2:
                found = rfind_filtered<V, 2>(from, size - low, needle, a, rechoosing);
                break;
            default:
                found = rfind_filtered<V, 3>(from, size - low, needle, a, rechoosing);
                break;
        }
        if (found.found()) {
            return SearchResult::at(low + found.offset());
        }
        if (low == 0) {
            return found;
        }
        // Every window from `low` up is rejected.
        size = low + needle.size - 1;
        low = 0;
        // Only where the ranked anchors passed the last windows without
        // proving weak: where they did, they were chosen again there from a
        // sample that no longer reaches the windows below, and one more
        // sample is as poor a guide (rfind_vs_find.py, Russian, 12 bytes: a
        // byte rare below the last windows, tested alone, led to a pair of
        // tabs, which every attribution line holds). The ranked anchors then
        // go on, and are counted again if they prove weak below too.
        if (!rechoosing.proved_weak) {
            const ReverseChoice counted = counted_choice<V>(ByteRange{data, size}, needle, true);
            if (counted.tested < tested) {
                QARVO_PROBE_PATH(kCountedAfterRankedPrefix);
                a = counted.anchors;
                tested = counted.tested;
            }
        }
    }
}

// The plain suffix, the reverse of find_n's plain prefix (plain_prefix): the
// last 4W windows in one step of four blocks, tested on the edge anchors,
// and the candidates compared in full, highest first, ahead of any setup of
// the filtered search (its frame, its ranking, its loop). A word found in the
// last few hundred bytes, the last line or record holding it, then never
// pays for that setup (rfind_vs_find.py's last-line and common-word cases).
// It gives way after kPlainMisses failed candidates or kPlainBytes bytes
// compared by them, which bounds its extra work. Returns the match, or not
// found. Precondition: positions = n - m + 1 >= 4W.
template <class V, class Probe>
[[gnu::always_inline]] inline SearchResult plain_suffix(const std::uint8_t* data, std::size_t n,
                                                        ByteRange needle, std::size_t positions,
                                                        Probe& probe) noexcept {
    constexpr std::size_t W = V::kWidth;
    assert(positions == n - needle.size + 1 && positions >= 4 * W);
    const std::size_t m = needle.size;
    // The four edges as plain values, not as ReverseAnchors: its arrays sent
    // the whole frame to memory (rfind_vs_find.py's absent needles in 1 KiB).
    const std::size_t last = m - 1;
    const typename V::Vec first_byte = V::splat(needle.data[0]);
    const typename V::Vec second_byte = V::splat(needle.data[1]);
    const typename V::Vec next_to_last_byte = V::splat(needle.data[last - 1]);
    const typename V::Vec last_byte = V::splat(needle.data[last]);
    const auto block = [&](std::size_t b) {
        return V::and_(V::and_(V::eq(load_at<V>(data, n, b), first_byte),
                               V::eq(load_at<V>(data, n, b + last), last_byte)),
                       V::and_(V::eq(load_at<V>(data, n, b + 1), second_byte),
                               V::eq(load_at<V>(data, n, b + last - 1), next_to_last_byte)));
    };
    const std::size_t base = positions - 4 * W;
    const typename V::Mask c[4] = {block(base), block(base + W), block(base + 2 * W),
                                   block(base + 3 * W)};
    if (!any_of_four<V>(c[0], c[1], c[2], c[3])) {
        return SearchResult::not_found();
    }
    std::size_t misses = 0;
    for (std::size_t k = 4; k-- > 0;) {
        const std::size_t b = base + k * W;
        for (auto lanes = V::lanes(c[k]); !V::empty(lanes); lanes = V::drop_last(lanes)) {
            const std::size_t p = b + V::last(lanes);
            probe.compared(m);
            if (equal_window(data + p, needle)) {
                return SearchResult::at(p);
            }
            ++misses;
            if (misses == kPlainMisses || misses * m > kPlainBytes) {
                QARVO_PROBE_PATH(kPlainSuffixGaveWay);
                return SearchResult::not_found();
            }
        }
    }
    return SearchResult::not_found();
}

// A wide variant's search of kReverseEdgeAnchorsBelow windows or more: the
// plain suffix, then, where it found nothing, the filtered search of the whole
// haystack. Taking only the windows the suffix left would move where the
// filtered search ranks, counts and aligns, and its choices there swing a
// long search either way by a third (rfind_vs_find.py: a Chinese needle of
// 64 bytes in 1 MiB, a CSV needle absent from 100 KiB); repeating one step
// of blocks costs a few nanoseconds. Shorter haystacks go straight to the
// filtered search, which tests the same edge anchors there.
template <class V, class Probe>
[[gnu::noinline]] SearchResult rfind_suffixed(ByteRange haystack, ByteRange needle,
                                              Probe& probe) noexcept {
    const std::size_t positions = haystack.size - needle.size + 1;
    static_assert(kReverseEdgeAnchorsBelow > 8 * V::kWidth);
    assert(positions >= kReverseEdgeAnchorsBelow);
    if (const SearchResult found =
            plain_suffix<V>(haystack.data, haystack.size, needle, positions, probe);
        found.found()) {
        return found;
    }
    return rfind_filtered_long<V>(haystack, needle, probe);
}

// rfind_n for needles of 4 bytes or more, with the probe of the caller's
// choice. Precondition: 4 <= m <= n.
template <class V, class Probe, class... Narrower>
SearchResult rfind_long_with(ByteRange haystack, ByteRange needle, Probe& probe) noexcept {
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    assert(m >= 4 && m <= n && haystack.data != nullptr && needle.data != nullptr);
    if constexpr (is_wide<V>) {
        const std::size_t positions = n - m + 1;
        if (positions <= short_windows_last_max<V>) {
            return short_windows_last<Probe, V, Narrower...>(haystack.data, n, needle, positions,
                                                             probe);
        }
        if (positions >= kReverseEdgeAnchorsBelow) {
            return rfind_suffixed<V>(haystack, needle, probe);
        }
    }
    return rfind_filtered_long<V>(haystack, needle, probe);
}

template <class V, class... Narrower>
SearchResult rfind_n(ByteRange haystack, ByteRange needle) noexcept {
    assert(needle.data != nullptr || needle.size == 0);
    const std::size_t m = needle.size;
    if (m == 0) {
        return SearchResult::at(haystack.size);
    }
    if (m > haystack.size) {
        return SearchResult::not_found();
    }
    const std::uint8_t* const bytes = needle.data;
    switch (m) {
        case 1:
            return rfind_one<V, Narrower...>(haystack, bytes[0]);
        case 2:
            return rfind_two<V, Narrower...>(haystack, bytes[0], bytes[1]);
        case 3:
            return rfind_three<V, Narrower...>(haystack, bytes[0], bytes[1], bytes[2]);
        default:
            break;
    }
    PlainProbe probe;
    return rfind_long_with<V, PlainProbe, Narrower...>(haystack, needle, probe);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
