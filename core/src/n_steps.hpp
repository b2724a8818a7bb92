// The filter steps of the long search (find_n, n.hpp): the candidates of a
// block (candidates, candidate_diff) and their refinement by the anchors not
// yet tested (refine); the wide steps of four blocks at a time, which stop
// when the filter proves weak or the budget is spent (wide_steps); the wide
// variants' ranked phase, which chooses filter bytes again from counts of
// the haystack (rare_wide_phase); and the narrow steps and last windows
// (finish_long).
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "filter_policy.hpp"
#include "n_filter_choice.hpp"
#include "n_verify.hpp"
#include "probe.hpp"
#include "qarvo/search.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// Candidate mask of the W positions at offset b: lane k is set when the
// first, middle and last anchors match at b + k. The wide backends may test
// fewer when their first anchors are rare (kTested = 1 or 2: one or two loads
// per block instead of three) and leave the others to refine.
// Precondition: b + W + m - 1 <= n (no anchor lies past the needle's end).
template <class V, std::size_t kTested = 3>
[[gnu::always_inline]] inline typename V::Mask candidates(const std::uint8_t* data, std::size_t n,
                                                          std::size_t b,
                                                          const Filter<V>& filter) noexcept {
    static_assert(kTested >= 1 && kTested <= 3);
    typename V::Mask mask = V::eq(load_at<V>(data, n, b + filter.first.offset), filter.first.byte);
    if constexpr (kTested >= 2) {
        mask =
            V::and_(mask, V::eq(load_at<V>(data, n, b + filter.middle.offset), filter.middle.byte));
    }
    if constexpr (kTested == 3) {
        mask = V::and_(mask, V::eq(load_at<V>(data, n, b + filter.last.offset), filter.last.byte));
    }
    return mask;
}

// candidates<V, kTested> for two or three anchors as a byte difference
// (has_byte_diff): zero in the lanes that are candidates. The wide steps
// fold four blocks of these into one vector and test it with one mask: where
// compares into mask registers and the AND and OR of masks cost more than
// these vector operations (AVX-512 on Zen 4), and where a compiler moves ORed
// masks through a general register and back, this keeps the loop on vectors
// (bench/core `no_match/1MiB`; core/TUNING.md). A third anchor ORs its
// difference into the pair's (triple_diff). A single anchor keeps its
// compares (one per block, with no AND), tested with any_of_four: as a
// difference it ran slower on haystacks beyond the caches.
template <class V, std::size_t kTested>
[[gnu::always_inline]] inline typename V::Vec candidate_diff(const std::uint8_t* data,
                                                             std::size_t n, std::size_t b,
                                                             const Filter<V>& filter) noexcept {
    static_assert(kTested == 2 || kTested == 3);
    const typename V::Vec x = load_at<V>(data, n, b + filter.first.offset);
    const typename V::Vec y = load_at<V>(data, n, b + filter.middle.offset);
    if constexpr (kTested == 2) {
        return V::pair_diff(x, filter.first.byte, y, filter.middle.byte);
    } else {
        return triple_diff<V>(x, filter.first.byte, y, filter.middle.byte,
                              load_at<V>(data, n, b + filter.last.offset), filter.last.byte);
    }
}

// The candidates of `mask` (block offset `base`) whose check anchor matches,
// and the anchors that candidates<V, kTested> left untested.
// Precondition: base + W + m - 1 <= n.
template <class V, std::size_t kTested = 3>
[[gnu::always_inline]] inline typename V::Mask refine(const std::uint8_t* data, std::size_t n,
                                                      const Filter<V>& filter,
                                                      typename V::Mask mask,
                                                      std::size_t base) noexcept {
    mask = V::and_(mask, V::eq(load_at<V>(data, n, base + filter.check.offset), filter.check.byte));
    if constexpr (kTested < 2) {
        mask = V::and_(mask,
                       V::eq(load_at<V>(data, n, base + filter.middle.offset), filter.middle.byte));
    }
    if constexpr (kTested < 3) {
        mask =
            V::and_(mask, V::eq(load_at<V>(data, n, base + filter.last.offset), filter.last.byte));
    }
    return mask;
}

// How a run of wide steps ended.
enum class WideExit {
    kDecided,     // `result` holds the answer
    kDrained,     // fewer than 4W + m - 1 bytes remain from the cursor
    kFilterWeak,  // the filter lets through too many candidates that the check rejects
    kSpent,       // the budget ran out; the cursor is at the candidate not yet compared
};

// Wide steps from the cursor `i`: 4W candidates from the masks of four
// blocks, one test of the four ORed together. The candidates are refined by
// the check anchor before any is compared in full, in increasing position:
// the blocks in address order, the lanes of a mask lowest first. With
// kStopWhenWeak, the run returns kFilterWeak once false alarms pass the
// share above; `i` is then the first position not yet examined. With
// kStopWhenSpent, a spent budget returns kSpent (see verify). With
// kPrefetch (the ranked search, whose haystacks are long), each step asks for
// the lines ahead (prefetch_ahead); the shorter haystacks' loops keep their
// code as it was (no_match/m=64/qarvo/n=4096 lost time to the test).
template <class V, bool kStopWhenWeak, bool kStopWhenSpent = false, std::size_t kTested = 3,
          std::size_t kSlack = kFalseAlarmSlack, bool kPrefetch = false>
[[gnu::always_inline]] inline WideExit wide_steps(const std::uint8_t* data, std::size_t n,
                                                  ByteRange needle, const Filter<V>& filter,
                                                  std::size_t& i, VerifyBudget& budget,
                                                  SearchResult& result) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::size_t last = needle.size - 1;
    const std::size_t start = i;
    std::size_t false_alarms = 0;
    std::size_t resume = 0;
    // Candidates i .. i + 4W - 1; the highest byte read is i + 4W + m - 2.
    while (n - i >= 4 * W + last) {
        if constexpr (kPrefetch) {
            prefetch_ahead(data, n, i);
        }
        typename V::Mask c0, c1, c2, c3;
        if constexpr (has_byte_diff<V> && kTested >= 2) {
            const typename V::Vec d0 = candidate_diff<V, kTested>(data, n, i, filter);
            const typename V::Vec d1 = candidate_diff<V, kTested>(data, n, i + W, filter);
            const typename V::Vec d2 = candidate_diff<V, kTested>(data, n, i + 2 * W, filter);
            const typename V::Vec d3 = candidate_diff<V, kTested>(data, n, i + 3 * W, filter);
            if (!V::any(V::zero_lanes(V::min_diff(V::min_diff(d0, d1), V::min_diff(d2, d3)))))
                [[likely]] {
                i += 4 * W;
                continue;
            }
            c0 = V::zero_lanes(d0);
            c1 = V::zero_lanes(d1);
            c2 = V::zero_lanes(d2);
            c3 = V::zero_lanes(d3);
        } else {
            c0 = candidates<V, kTested>(data, n, i, filter);
            c1 = candidates<V, kTested>(data, n, i + W, filter);
            c2 = candidates<V, kTested>(data, n, i + 2 * W, filter);
            c3 = candidates<V, kTested>(data, n, i + 3 * W, filter);
        }
        if (any_of_four<V>(c0, c1, c2, c3)) [[unlikely]] {
            c0 = refine<V, kTested>(data, n, filter, c0, i);
            c1 = refine<V, kTested>(data, n, filter, c1, i + W);
            c2 = refine<V, kTested>(data, n, filter, c2, i + 2 * W);
            c3 = refine<V, kTested>(data, n, filter, c3, i + 3 * W);
            // A step whose candidates the check rejects all is a false
            // alarm. With kStopWhenSpent (the wide backends), so is each
            // candidate that fails in full: on a periodic haystack the four
            // anchors may match wherever the needle nearly does.
            std::size_t alarms = 1;
            if (V::any(V::or_(V::or_(c0, c1), V::or_(c2, c3)))) {
                const std::size_t compared_before = budget.compared;
                if (verify<V, kStopWhenSpent>(data, n, needle, c0, i, budget, result, &resume) ||
                    verify<V, kStopWhenSpent>(data, n, needle, c1, i + W, budget, result,
                                              &resume) ||
                    verify<V, kStopWhenSpent>(data, n, needle, c2, i + 2 * W, budget, result,
                                              &resume) ||
                    verify<V, kStopWhenSpent>(data, n, needle, c3, i + 3 * W, budget, result,
                                              &resume)) {
                    if (kStopWhenSpent && !result.found()) {
                        i = resume;
                        return WideExit::kSpent;
                    }
                    return WideExit::kDecided;
                }
                alarms = kStopWhenSpent ? (budget.compared - compared_before) / needle.size : 0;
            }
            if constexpr (kStopWhenWeak) {
                false_alarms += alarms;
                if (false_alarms > kSlack + (i - start) / (4 * W * kFalseAlarmShare)) {
                    i += 4 * W;
                    return WideExit::kFilterWeak;
                }
            }
        }
        i += 4 * W;
    }
    return WideExit::kDrained;
}

// The ranked search's wide steps that test the first `tested` anchors (1 to 3).
template <class V, bool kStopWhenWeak, bool kStopWhenSpent>
[[gnu::always_inline]] inline WideExit wide_steps_testing(std::size_t tested,
                                                          const std::uint8_t* data, std::size_t n,
                                                          ByteRange needle, const Filter<V>& filter,
                                                          std::size_t& i, VerifyBudget& budget,
                                                          SearchResult& result) noexcept {
    switch (tested) {
        case 1:
            return wide_steps<V, kStopWhenWeak, kStopWhenSpent, 1, kFalseAlarmSlack, true>(
                data, n, needle, filter, i, budget, result);
        case 2:
            return wide_steps<V, kStopWhenWeak, kStopWhenSpent, 2, kFalseAlarmSlack, true>(
                data, n, needle, filter, i, budget, result);
        default:
            return wide_steps<V, kStopWhenWeak, kStopWhenSpent, 3, kFalseAlarmSlack, true>(
                data, n, needle, filter, i, budget, result);
    }
}

// The wide backends' wide phase. The filter chosen by rank has met data on
// which its bytes are common when false alarms pile up or the budget runs
// out; the search then counts the bytes of the haystack around the cursor,
// filters on the needle bytes rarest there, and grants the budget once more.
// Only if that filter also spends it does Two-Way finish the search. Each
// stage is linear, so the whole is too.
template <class V>
[[gnu::always_inline]] inline WideExit rare_wide_phase(const std::uint8_t* data, std::size_t n,
                                                       ByteRange needle, Filter<V>& filter,
                                                       std::size_t tested, std::size_t& i,
                                                       VerifyBudget& budget,
                                                       SearchResult& result) noexcept {
    WideExit exit = WideExit::kSpent;
    if (!budget.exhausted_at(i)) {
        // A long haystack searches its first kRankedPrefix bytes with the
        // ranked filter, then counts a sample of them and may filter on the
        // bytes rare there: by then the count costs little, and a match
        // near the start never pays for it.
        if (n - i >= kCountFrom) {
            // (Never past the haystack: a needle nearly as long leaves fewer
            // than kRankedPrefix windows.)
            const std::size_t prefix_end = std::min(n, i + kRankedPrefix + needle.size - 1);
            exit = wide_steps_testing<V, true, true>(tested, data, prefix_end, needle, filter, i,
                                                     budget, result);
            if (exit == WideExit::kDrained) {
                // The counted choice replaces the ranked one only when it
                // tests fewer anchors: the ranked one has just passed kRankedPrefix bytes
                // of this data without a false alarm to show for it.
                Filter<V> counted = filter;
                std::size_t restart = i;
                const std::size_t counted_tested =
                    refilter_by_count(data, n, needle, counted, restart);
                if (counted_tested < tested) {
                    QARVO_PROBE_PATH(kCountedAfterRankedPrefix);
                    filter = counted;
                    i = restart;
                    tested = counted_tested;
                }
                exit = wide_steps_testing<V, true, true>(tested, data, n, needle, filter, i, budget,
                                                         result);
            }
        } else {
            exit = wide_steps_testing<V, true, true>(tested, data, n, needle, filter, i, budget,
                                                     result);
        }
        if (exit != WideExit::kFilterWeak && exit != WideExit::kSpent) {
            return exit;
        }
    }
    if (exit == WideExit::kFilterWeak) {
        QARVO_PROBE_PATH(kRecountedAfterFalseAlarms);
    } else {
        QARVO_PROBE_PATH(kRecountedAfterSpentBudget);
    }
    tested = refilter_by_count(data, n, needle, filter, i,
                               tested < 2 ? ProvedWeak::kLoneAnchor : ProvedWeak::kSeveralAnchors);
    budget.restart_at(i);
    return wide_steps_testing<V, false, false>(tested, data, n, needle, filter, i, budget, result);
}

// The narrow phase from the cursor `i`, with the filter the wide phase ended
// with, and the fewer than W windows after it.
template <class V, class... Narrower>
[[gnu::always_inline]] inline SearchResult finish_long(const std::uint8_t* data, std::size_t n,
                                                       ByteRange needle, const Filter<V>& filter,
                                                       std::size_t i,
                                                       VerifyBudget& budget) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::size_t m = needle.size;
    const std::size_t last = m - 1;
    SearchResult result = SearchResult::not_found();
    // Candidates i .. i + W - 1; the highest byte read is i + W + m - 2.
    while (n - i >= W + last) {
        const typename V::Mask c = candidates<V>(data, n, i, filter);
        if (V::any(c) &&
            verify<V>(data, n, needle, refine<V>(data, n, filter, c, i), i, budget, result)) {
            return result;
        }
        i += W;
    }

    // Fewer than W windows remain (n - i < W + m - 1).
    assert(i <= n);
    if constexpr (is_wide<V>) {
        // One more step over the last W windows, n - m + 1 >= W: the
        // candidates before i were rejected already and fail again, so the
        // first that verifies is the first occurrence.
        if (n - i < m) {
            return SearchResult::not_found();
        }
        const std::size_t base = n - m + 1 - W;
        const typename V::Mask c = candidates<V>(data, n, base, filter);
        if (V::any(c)) {
            verify<V>(data, n, needle, refine<V>(data, n, filter, c, base), base, budget, result);
        }
        return result;
    } else {
        return scan_windows(data, n, i, needle);
    }
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
