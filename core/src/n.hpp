// find_n: the first offset p with haystack[p .. p + m - 1] == needle[0 .. m - 1].
//
// Needles of 0 to 3 bytes are dispatched (empty: 0; longer than the haystack:
// not found; 1 to 3 bytes: find_one/two/three). Longer needles use a filter on
// three needle bytes, the first, the second and the last: lane k of the
// candidate mask at offset b is set when haystack[b + k], haystack[b + k + 1]
// and haystack[b + k + m - 1] equal them. Every occurrence is a candidate; a
// candidate is an occurrence when the whole needle matches there.
//
// Verification starts with one more vector test: the block's candidates are
// ANDed with a compare against the check byte, the needle byte that is likely
// rarest in the data (byte_rank.hpp), chosen once per call among the bytes
// the filter does not test. In text, where the first, second and last bytes
// of a word are common, this removes nearly every false candidate for the
// price of one load; the candidates that remain are compared in full.
// When the check keeps rejecting everything the filter lets through, the
// filter is the weak part: after enough such false alarms the search swaps
// the two, filtering on the first, rare and last bytes and checking the
// second (wide_steps). Both orders test the same bytes before a full
// comparison, so results cannot change; only the number of mispredicted
// branches does.
// With W-byte vectors:
//   wide phase, while 4W + m - 1 bytes remain: 4W candidates from 12 loads,
//     one test of the four masks ORed together (with AVX-512 and two or
//     three anchors, of the four blocks' byte differences folded into one
//     vector: candidate_diff);
//   narrow phase, while W + m - 1 bytes remain: W candidates from 3 loads;
//   the fewer than W windows left: for W = 16 compared one by one; a wider
//     variant (is_wide) takes one more step over the last W windows, and
//     a haystack with fewer than W windows (2W - 1 without masked loads)
//     goes to short_long.
// The wide backends (kAlignLoads), when the haystack is long enough for the
// wide phase, first search a plain prefix (plain_prefix: blocks of the first
// few hundred positions on the first, second and last bytes, each candidate
// compared in full, until a few have failed), and only then prepare their
// check byte (or, on long haystacks, rank the needle); they go on from the
// block offset at or just before the prefix's end whose loads are aligned,
// or after one unaligned step when the prefix stopped within its first block
// (align_after_prefix). On haystacks of kRareAnchorsFrom bytes or more the
// prefix runs in a small function of its own (find_long_prefixed), and the
// ranked search takes what it left as its haystack, starting with one
// unaligned step unless that is aligned already.
// Candidates are verified in increasing position (the blocks of a wide step
// in address order, the lanes of a mask lowest first), so the first that
// verifies is the first occurrence.
//
// Worst case: when nearly every position is a candidate that fails late,
// verification alone would cost n * m. The bytes handed to memcmp are counted;
// once they exceed a fixed multiple of the distance the search has advanced,
// the rest of the haystack, from the current candidate on, goes to the
// linear-time Two-Way search. Every position before that candidate has
// already been rejected, so its result (plus the candidate's offset) is the
// first occurrence.
//
// Below kRareAnchorsFrom haystack bytes the wide backends (AVX2, AVX-512)
// filter on two needle bytes, the check byte and the last (or the one
// before it, when the last is among the commonest bytes of text; from
// kPartnerFrom bytes on, the one likely rarest of the first, the last and
// the first few inner bytes), and take a third into the filter after a few
// false alarms (short_filter, partnered_filter).
//
// The wide backends, on haystacks of kRareAnchorsFrom bytes
// or more, choose the filter's bytes from the needle instead
// (find_long_rare): the four needle bytes likely rarest by the byte-rank
// table, the rarest one, two or three tested at every position (as many as
// their rarity calls for: a byte that text does not use alone saves two
// loads per block) and the rest in the check. The block offsets are aligned
// for the rarest byte's loads. When that filter proves weak on the data
// (false alarms as above, or candidates that keep failing in full, or a
// spent budget), the search counts the bytes of a sample of the haystack
// around the cursor and filters on the needle bytes rarest there, with the
// budget granted once more; only a second spent budget hands over to
// Two-Way. So a run of one byte against a needle that differs from it in
// one byte is filtered on that byte at vector speed, and every search stays
// O(n + m). Only the positions examined differ: every occurrence is a
// candidate of any choice of bytes, so results do not change.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>

#include "byte_rank.hpp"
#include "one.hpp"
#include "qarvo/search.hpp"
#include "rare_bytes.hpp"
#include "three.hpp"
#include "two.hpp"
#include "vector.hpp"
#include "worst_case.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// Bytes that verification may compare before the search switches to Two-Way:
// four per byte advanced, plus a slack of four needles and 256 bytes, so that
// occasional false candidates of a long needle never trigger it.
struct VerifyBudget {
    static constexpr std::size_t kPerByte = 4;
    static constexpr std::size_t kSlack = 256;

    std::size_t needle_size;
    std::size_t compared = 0;
    std::size_t start = 0;  // the position the count began at

    // True once more than kPerByte * (position - start + needle_size) + kSlack
    // bytes have been compared. Written with a division, which cannot
    // overflow. Precondition: position >= start.
    bool exhausted_at(std::size_t position) const noexcept {
        return compared > kSlack && (compared - kSlack) / kPerByte > position - start + needle_size;
    }

    // A new allowance from `position` on, for a search that changed its
    // filter there. Granted once per call, so the total stays linear.
    void restart_at(std::size_t position) noexcept {
        compared = 0;
        start = position;
    }
};

// One needle byte at an offset, splat into a vector.
template <class V>
struct Anchor {
    std::size_t offset;
    typename V::Vec byte;
    std::uint8_t byte_value;

    static Anchor at(ByteRange needle, std::size_t offset) noexcept {
        const std::uint8_t value = needle.data[offset];
        return Anchor{offset, V::splat(value), value};
    }
};

// The needle bytes a search tests, built once per call: the filter tests the
// first, the middle and the last anchor at every position; a candidate is
// then tested on the check anchor before it is compared in full. The search
// starts with the second byte in the middle and the likely rarest inner byte
// as the check; swapped() exchanges the two.
template <class V>
struct Filter {
    Anchor<V> first;
    Anchor<V> middle;
    Anchor<V> last;
    Anchor<V> check;

    Filter swapped() const noexcept { return Filter{first, check, last, middle}; }
};

// The offset of the needle byte, other than 0, 1 and m - 1, most likely to
// reject a false candidate. The scan stops at a byte of the rarest rank, and
// looks at no more than `scan_limit` inner bytes, so that a long needle in a
// short haystack does not cost more to prepare than to search.
// Precondition: m >= 4.
inline std::size_t rarest_inner_offset(ByteRange needle, std::size_t scan_limit) noexcept {
    assert(needle.size >= 4);
    const std::size_t inner_end = needle.size - 1;
    const std::size_t end = inner_end - 2 < scan_limit ? inner_end : 2 + scan_limit;
    std::size_t best = 2;
    std::uint8_t best_rank = kByteRank.of[needle.data[2]];
    for (std::size_t k = 3; k < end && best_rank > 0; ++k) {
        const std::uint8_t rank = kByteRank.of[needle.data[k]];
        if (rank < best_rank) {
            best = k;
            best_rank = rank;
        }
    }
    return best;
}

// Inner bytes looked at for a haystack of n bytes: at least 256, and up to
// one for every 64 haystack bytes, a small share of the search's own work.
inline std::size_t rare_scan_limit(std::size_t haystack_size) noexcept {
    return haystack_size / 64 > 256 ? haystack_size / 64 : 256;
}

// Whether the m bytes at `at` equal the needle. Needles of up to 16 bytes are
// compared as two overlapping words, with no call. Precondition: m >= 4 and
// the m bytes at `at` are inside the haystack.
[[gnu::always_inline]] inline bool equal_window(const std::uint8_t* at, ByteRange needle) noexcept {
    const std::size_t m = needle.size;
    const auto word = [](const std::uint8_t* p, auto zero) {
        decltype(zero) value;
        std::memcpy(&value, p, sizeof value);
        return value;
    };
    if (m <= 8) {
        const std::size_t tail = m - 4;
        return word(at, std::uint32_t{}) == word(needle.data, std::uint32_t{}) &&
               word(at + tail, std::uint32_t{}) == word(needle.data + tail, std::uint32_t{});
    }
    if (m <= 16) {
        const std::size_t tail = m - 8;
        return word(at, std::uint64_t{}) == word(needle.data, std::uint64_t{}) &&
               word(at + tail, std::uint64_t{}) == word(needle.data + tail, std::uint64_t{});
    }
    // Longer needles: the first 16 bytes inline, so that the false
    // candidates, which nearly all differ there, never pay for a call.
    if (word(at, std::uint64_t{}) != word(needle.data, std::uint64_t{}) ||
        word(at + 8, std::uint64_t{}) != word(needle.data + 8, std::uint64_t{})) {
        return false;
    }
    return std::memcmp(at + 16, needle.data + 16, m - 16) == 0;
}

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
// fold four blocks of these into one vector and test it with one mask: on
// Zen 4 a compare into a mask register and the AND and OR of masks take
// longer than these vector operations, and GCC 16 moved the ORed masks
// through a general register and back, which cost its AVX-512 loop a
// seventh of its speed. A third anchor ORs its difference into the pair's
// (triple_diff). A single anchor keeps its
// compares (one per block, with no AND), tested with any_of_four: as a
// difference it ran a tenth slower on haystacks beyond the caches.
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

// Compares the needle at each candidate of `mask` (block offset `base`),
// lowest lane first. Returns true with `result` set when the search is
// decided: a candidate verified, or the budget ran out and Two-Way answered
// for the rest. With kStopWhenSpent a spent budget does not hand over to
// Two-Way: the function returns true with `result` not found and `resume`
// set to the candidate not yet compared, for the caller to pick a better
// filter from there. Precondition: base + W + m - 1 <= n, so each
// candidate's m bytes are inside.
template <class V, bool kStopWhenSpent = false>
[[gnu::always_inline]] inline bool verify(const std::uint8_t* data, std::size_t n, ByteRange needle,
                                          typename V::Mask mask, std::size_t base,
                                          VerifyBudget& budget, SearchResult& result,
                                          std::size_t* resume = nullptr) noexcept {
    const std::size_t m = needle.size;
    for (auto lanes = V::lanes(mask); !V::empty(lanes); lanes = V::drop_first(lanes)) {
        const std::size_t p = base + V::first(lanes);
        assert(p <= n && m <= n - p);
        if (budget.exhausted_at(p)) [[unlikely]] {
            if constexpr (kStopWhenSpent) {
                result = SearchResult::not_found();
                *resume = p;
            } else {
                result = shift_result(two_way_search(ByteRange{data + p, n - p}, needle), p);
            }
            return true;
        }
        budget.compared += m;
        if (equal_window(data + p, needle)) {
            result = SearchResult::at(p);
            return true;
        }
    }
    return false;
}

// How a run of wide steps ended.
enum class WideExit {
    kDecided,     // `result` holds the answer
    kDrained,     // fewer than 4W + m - 1 bytes remain from the cursor
    kFilterWeak,  // the filter lets through too many candidates that the check rejects
    kSpent,       // the budget ran out; the cursor is at the candidate not yet compared
};

// A wide step whose candidates the check anchor all rejects (a false alarm)
// costs a mispredicted branch and four more compares. Once false alarms
// exceed one step in kFalseAlarmShare, plus kFalseAlarmSlack, the filter
// counts as weak: text needles made of common letters get there within a few
// KiB; random data and needles with a rare byte never do.
inline constexpr std::size_t kFalseAlarmShare = 64;
inline constexpr std::size_t kFalseAlarmSlack = 16;

// Wide steps from the cursor `i`: 4W candidates from the masks of four
// blocks, one test of the four ORed together. The candidates are refined by
// the check anchor before any is compared in full, in increasing position:
// the blocks in address order, the lanes of a mask lowest first. With
// kStopWhenWeak, the run returns kFilterWeak once false alarms pass the
// share above; `i` is then the first position not yet examined. With
// kStopWhenSpent, a spent budget returns kSpent (see verify).
template <class V, bool kStopWhenWeak, bool kStopWhenSpent = false, std::size_t kTested = 3,
          std::size_t kSlack = kFalseAlarmSlack>
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

// The windows at i, i + 1, ..., n - m compared one by one, for the few that
// no vector step covers. The first and last bytes are tested inline: most
// windows fail there, and a call per window would dominate short haystacks.
inline SearchResult scan_windows(const std::uint8_t* data, std::size_t n, std::size_t i,
                                 ByteRange needle) noexcept {
    const std::size_t m = needle.size;
    const std::uint8_t first = needle.data[0];
    const std::uint8_t final = needle.data[m - 1];
    for (std::size_t p = i; p <= n && n - p >= m; ++p) {
        if (data[p] == first && data[p + m - 1] == final && equal_window(data + p, needle)) {
            return SearchResult::at(p);
        }
    }
    return SearchResult::not_found();
}

// The candidates of `mask` (block offset `base`) of a short haystack compared
// in full, lowest first. Out of line, so that a search that finds no
// candidate never sets up the frame that verification (and its Two-Way
// fallback) needs. Precondition: as verify.
template <class V>
[[gnu::noinline]] SearchResult verify_short(const std::uint8_t* data, std::size_t n,
                                            ByteRange needle, typename V::Mask mask,
                                            std::size_t base) noexcept {
    VerifyBudget budget{needle.size};
    SearchResult result = SearchResult::not_found();
    verify<V>(data, n, needle, mask, base, budget, result);
    return result;
}

// W to 2W - 1 windows of a short haystack as two overlapping steps of the
// vector type N, at 0 and at windows - W, with the filter on the first,
// second and last bytes (a candidate in the overlap is compared twice,
// failing both times).
template <class N>
[[gnu::always_inline]] inline SearchResult two_steps_short(const std::uint8_t* data, std::size_t n,
                                                           ByteRange needle,
                                                           std::size_t windows) noexcept {
    assert(windows >= N::kWidth && windows < 2 * N::kWidth);
    const Anchor<N> second = Anchor<N>::at(needle, 1);
    const Filter<N> filter{Anchor<N>::at(needle, 0), second, Anchor<N>::at(needle, needle.size - 1),
                           second};
    if (const auto c = candidates<N>(data, n, 0, filter); N::any(c)) {
        if (const SearchResult r = verify_short<N>(data, n, needle, c, 0); r.found()) {
            return r;
        }
    }
    const std::size_t last = windows - N::kWidth;
    const auto c = candidates<N>(data, n, last, filter);
    return N::any(c) ? verify_short<N>(data, n, needle, c, last) : SearchResult::not_found();
}

// Below this many windows, short_long compares window by window where it
// has no masked loads.
inline constexpr std::size_t kFewWindows = 4;

// The most windows a wide variant's short path takes: a whole vector with
// masked loads, since one load covers it; otherwise up to two overlapping
// vector steps, short of two whole vectors.
template <class V>
inline constexpr std::size_t short_windows = has_masked_load<V> ? V::kWidth : 2 * V::kWidth - 1;

// A wide variant's haystack of at most short_windows windows (n - m + 1 of
// them): the filter on the first, second and last bytes, then each
// candidate compared in full; no check anchor, whose choice would cost more
// than it saves here. One masked load per anchor where the backend has them;
// otherwise two overlapping steps of this width, or of the next narrower one
// when there are at least that many windows, down the list of narrower step
// types to one with masked (or exact) loads, or window by window where the
// list ends without one.
// Precondition: 4 <= m <= n.
template <class V, class... Narrower>
[[gnu::always_inline]] inline SearchResult short_long(const std::uint8_t* data, std::size_t n,
                                                      ByteRange needle) noexcept {
    const std::size_t m = needle.size;
    assert(m >= 4 && m <= n && n - m < short_windows<V>);
    const std::size_t windows = n - m + 1;
    if constexpr (has_masked_load<V>) {
        const auto anchor = [&](std::size_t offset) {
            return V::eq(load_first_at<V>(data, n, offset, windows), V::splat(needle.data[offset]));
        };
        const typename V::Mask c =
            V::and_(V::and_(V::and_(anchor(0), anchor(1)), anchor(m - 1)), V::first_lanes(windows));
        if (!V::any(c)) {
            return SearchResult::not_found();
        }
        // The first candidate inline, for needles that equal_window compares
        // without a call: in a short haystack it is usually the match, if
        // there is one, and a call here would cost every search a frame.
        if (const std::size_t p = V::lowest(c); m <= 16 && equal_window(data + p, needle)) {
            return SearchResult::at(p);
        }
        return verify_short<V>(data, n, needle, c, 0);
    } else {
        if (windows >= V::kWidth) {
            return two_steps_short<V>(data, n, needle, windows);
        }
        // A few windows are compared one by one: most fail on their first
        // or last byte, sooner than narrower vectors for them are built.
        if (windows < kFewWindows) {
            return scan_windows(data, n, 0, needle);
        }
        if constexpr (sizeof...(Narrower) > 0) {
            return short_long<Narrower...>(data, n, needle);
        } else {
            return scan_windows(data, n, 0, needle);
        }
    }
}

// Whether a backend picks its filter bytes from the needle (the wide ones)
// rather than testing the first, second and last bytes (the 16-byte ones).
template <class V>
inline constexpr bool picks_rare_anchors = V::kWidth > 16;

// Below this many haystack bytes the wide backends do not rank the needle
// (short_filter instead): ranking it and the run-time choice of the number
// of anchors cost more than they gain. On the real-data cases of 4 to 12
// KiB, filtering on two anchors took 0.61-0.77 of the time the ranked filter
// took; from 16 KiB on the two are level, and beyond they favour ranking.
inline constexpr std::size_t kRareAnchorsFrom = 16384;

// When this many haystack bytes remain, the wide backends search the first
// kRankedPrefix of them with the filter the rank table chose, then count a
// sample of what they scanned and choose again by the counts (a byte the
// table guesses common may be absent from the data, as the 'b' in a run of
// 'a'). The count costs about as much as searching a few KiB: under 2% of a
// search this long, and nothing for a match in the prefix.
inline constexpr std::size_t kCountFrom = 256 * 1024;
inline constexpr std::size_t kRankedPrefix = 16 * 1024;

// What the ranked search works out about its needle: the four rarest bytes
// that its filters test, by rank and, once the filter proves weak, by the
// counts of a sample.
struct NeedlePlan {
    RareOffsets rarest{};
};

// Needle bytes that the wide backends rank before their first vector step:
// a few for a short haystack, where the ranking would otherwise cost as much
// as the search, up to one per 64 haystack bytes.
inline std::size_t rank_scan_limit(std::size_t haystack_size) noexcept {
    constexpr std::size_t kLeast = 8;
    return haystack_size / 64 > kLeast ? haystack_size / 64 : kLeast;
}

// The filter of the wide backends: the four rarest needle bytes, rarest
// first; the wide steps test the first one to three at every position and
// the others on the candidates (candidates, refine).
template <class V>
Filter<V> rare_filter(ByteRange needle, const RareOffsets& rarest) noexcept {
    return Filter<V>{Anchor<V>::at(needle, rarest.at[0]), Anchor<V>::at(needle, rarest.at[1]),
                     Anchor<V>::at(needle, rarest.at[2]), Anchor<V>::at(needle, rarest.at[3])};
}

// The filter of the 16-byte backends: first, second and last byte, and the
// likely rarest inner byte as the check.
template <class V>
Filter<V> fixed_filter(ByteRange needle, std::size_t rare_offset) noexcept {
    return Filter<V>{Anchor<V>::at(needle, 0), Anchor<V>::at(needle, 1),
                     Anchor<V>::at(needle, needle.size - 1), Anchor<V>::at(needle, rare_offset)};
}

// The filter of the wide backends below kRareAnchorsFrom: the likely rarest
// inner byte and the last byte, tested at every position (two loads per
// block, where three cost a quarter more time on 1 KiB of text), then the
// first byte, and the second as the check. The last byte pairs better with
// the inner one than the first does: a needle of text often starts with a
// space, a UTF-8 lead byte or, in binary data, a NUL, and its last byte is
// rarely as common. When it is (rank kCommonLastRank or above: a space, an
// 'e', a Cyrillic lead byte, a NUL), the byte before it takes its place,
// unless that is the inner one: "\xd0\xbd\xd0\xb8\n\xd1\x81\xd0" (the newline
// and a Cyrillic lead byte three bytes on) let through nearly every line
// break of Russian text, and its search of 1 KiB took 1.7 times as long as
// with the 0x81 before the lead byte; the other real-data cases of 1 KiB
// took 1.00-1.03 of their time for the choice, level from 2 KiB. Where
// the two still let many positions through (hex digits, a pair of Cyrillic
// bytes), the steps go over to testing the first byte too after
// kShortFalseAlarmSlack false alarms.
inline constexpr std::uint8_t kCommonLastRank = 250;

template <class V>
Filter<V> short_filter(ByteRange needle, std::size_t rare_offset) noexcept {
    const std::size_t last = needle.size - 1;
    const std::size_t partner =
        kByteRank.of[needle.data[last]] >= kCommonLastRank && rare_offset != last - 1 ? last - 1
                                                                                      : last;
    return Filter<V>{Anchor<V>::at(needle, rare_offset), Anchor<V>::at(needle, partner),
                     Anchor<V>::at(needle, 0), Anchor<V>::at(needle, 1)};
}

// From this many haystack bytes short_filter's second anchor is the needle
// byte likely rarest after the inner one (partnered_filter): picking it
// costs a few nanoseconds, which on 1 KiB is a tenth of the search, and the
// last byte is often common too ("y swoope" in English, where the 'y' pairs
// far better with the 'w', or a Cyrillic letter's lead byte).
inline constexpr std::size_t kPartnerFrom = 4096;

// Inner bytes that partnered_filter looks at besides the first and last.
inline constexpr std::size_t kPartnerScan = 16;

// short_filter with the rarest by rank of the first byte, the last byte and
// the first kPartnerScan inner bytes (other than `rare_offset`) as its
// second anchor, the first byte (or the last, when the first is the
// partner) as its third, and the second byte as the check: four distinct
// offsets, since the inner ones start at 2. Equal ranks keep the last byte.
template <class V>
Filter<V> partnered_filter(ByteRange needle, std::size_t rare_offset) noexcept {
    const std::size_t last = needle.size - 1;
    const auto rank = [&](std::size_t offset) { return kByteRank.of[needle.data[offset]]; };
    std::size_t partner = last;
    std::size_t third = 0;
    std::uint8_t lowest = rank(last);
    if (rank(0) < lowest) {
        partner = 0;
        third = last;
        lowest = rank(0);
    }
    const std::size_t end = last < 2 + kPartnerScan ? last : 2 + kPartnerScan;
    for (std::size_t k = 2; k < end; ++k) {
        if (k != rare_offset && rank(k) < lowest) {
            partner = k;
            third = 0;
            lowest = rank(k);
        }
    }
    return Filter<V>{Anchor<V>::at(needle, rare_offset), Anchor<V>::at(needle, partner),
                     Anchor<V>::at(needle, third), Anchor<V>::at(needle, 1)};
}

// Inner needle bytes that find_long_short looks at for its rarest: a few,
// since the scan's chain of compares is a fixed cost of every call. From 16
// to 8 bytes on a haystack of 1 KiB, it took a 32- or 64-byte needle's
// search from 27 to 21-24 ns; at 4 KiB and up, 16 instead of one per 64
// haystack bytes saved 2-3%. Fewer than 8 chose worse bytes from 2 KiB on.
inline constexpr std::size_t kShortScan = 8;
inline constexpr std::size_t kPartneredScan = 16;

// The false alarms short_filter's two anchors may raise before the third
// joins them, plus one per kFalseAlarmShare steps: a haystack of 1 KiB has
// three wide steps of AVX-512, so kFalseAlarmSlack would never be reached.
inline constexpr std::size_t kShortFalseAlarmSlack = 4;

// Wide steps that test the first `tested` anchors (1 to 3).
template <class V, bool kStopWhenWeak, bool kStopWhenSpent>
[[gnu::always_inline]] inline WideExit wide_steps_testing(std::size_t tested,
                                                          const std::uint8_t* data, std::size_t n,
                                                          ByteRange needle, const Filter<V>& filter,
                                                          std::size_t& i, VerifyBudget& budget,
                                                          SearchResult& result) noexcept {
    switch (tested) {
        case 1:
            return wide_steps<V, kStopWhenWeak, kStopWhenSpent, 1>(data, n, needle, filter, i,
                                                                   budget, result);
        case 2:
            return wide_steps<V, kStopWhenWeak, kStopWhenSpent, 2>(data, n, needle, filter, i,
                                                                   budget, result);
        default:
            return wide_steps<V, kStopWhenWeak, kStopWhenSpent, 3>(data, n, needle, filter, i,
                                                                   budget, result);
    }
}

// How many anchors the wide steps test: each one more costs a load per
// block (a third more work for the third), each one fewer lets through more
// false candidates, each a mispredicted branch. One, when the rarest is a
// byte that text does not use (rank below kAlienRank) or, once the haystack
// is counted, one absent from the sample. Two, when the second rarest is
// rare too: a capital, digit, punctuation mark, a letter no more common than
// 'm' or the continuation byte of a rarer Cyrillic letter (rank at most
// kTwoAnchorRank), or when the two counted bytes let through about one
// position in kTwoAnchorShare or fewer. Otherwise three.
// A byte absent from the sample may still be common further on (a full stop
// in a sample of 512 bytes of prose): it is tested alone when it is rare in
// a wider window too (at most kLoneLimit times in kLoneWindow bytes: one in
// 512 or fewer, where a second load, misaligned, costs more than the false
// alarms it saves), or when
// the second would not narrow it much anyway (more than one sample byte in
// kSelectiveShare, as the run byte of a run); with the second otherwise.
inline constexpr std::uint8_t kAlienRank = 100;
inline constexpr std::uint8_t kTwoAnchorRank = 211;
inline constexpr std::size_t kTwoAnchorShare = 2048;
inline constexpr std::size_t kSelectiveShare = 8;
inline constexpr std::size_t kLoneWindow = 4096;
inline constexpr std::size_t kLoneLimit = 8;

template <class V>
std::size_t anchors_to_test_by_rank(const Filter<V>& filter) noexcept {
    if (kByteRank.of[filter.first.byte_value] < kAlienRank) {
        return 1;
    }
    return kByteRank.of[filter.middle.byte_value] <= kTwoAnchorRank ? 2 : 3;
}

// `rare_nearby`: the first byte occurs at most kLoneLimit times in the
// kLoneWindow bytes around the sample (rare_in_window).
template <class V>
std::size_t anchors_to_test_by_count(const Filter<V>& filter, const ByteCounts& counts,
                                     bool rare_nearby) noexcept {
    constexpr std::size_t S = ByteCounts::kSample;
    const std::size_t first = counts.of[filter.first.byte_value];
    const std::size_t second = counts.of[filter.middle.byte_value];
    if (first == 0 && (rare_nearby || second * kSelectiveShare > S)) {
        return 1;
    }
    return first * second * kTwoAnchorShare <= S * S ? 2 : 3;
}

// The highest cursor at or before `i` (and above i - W) whose loads of the
// anchor at `offset` are aligned, or `i` itself when there is none: a search
// that has rejected every position before `i` may go on from there, examining
// fewer than W positions again.
template <class V>
std::size_t aligned_at_or_before(const std::uint8_t* data, std::size_t i,
                                 std::size_t offset) noexcept {
    const std::size_t misalignment =
        reinterpret_cast<std::uintptr_t>(data + i + offset) % V::kWidth;
    return misalignment <= i ? i - misalignment : i;
}

// Whether the anchor's byte occurs at most kLoneLimit times in the
// kLoneWindow bytes that end at `i` (or, nearer the start, the first
// kLoneWindow bytes). Stops at the occurrence past the limit, so a common
// byte costs no more than a rare one. Precondition: n >= kLoneWindow.
template <class V>
bool rare_in_window(const std::uint8_t* data, std::size_t n, std::size_t i,
                    const Anchor<V>& anchor) noexcept {
    static_assert(kLoneWindow % V::kWidth == 0);
    assert(n >= kLoneWindow);
    const std::size_t to = i > kLoneWindow && i <= n ? i : kLoneWindow;
    std::size_t seen = 0;
    for (std::size_t b = to - kLoneWindow; b < to; b += V::kWidth) {
        const typename V::Mask hits = V::eq(load_at<V>(data, n, b), anchor.byte);
        for (auto lanes = V::lanes(hits); !V::empty(lanes); lanes = V::drop_first(lanes)) {
            if (++seen > kLoneLimit) {
                return false;
            }
        }
    }
    return true;
}

// The lanes set in a mask.
template <class V>
[[gnu::always_inline]] inline std::size_t lane_count(typename V::Mask mask) noexcept {
    auto lanes = V::lanes(mask);
    if constexpr (std::is_integral_v<decltype(lanes)>) {
        return static_cast<std::size_t>(std::popcount(lanes));
    } else {
        std::size_t count = 0;
        for (; !V::empty(lanes); lanes = V::drop_first(lanes)) {
            ++count;
        }
        return count;
    }
}

// Needles with at most this many bytes to score have them counted with
// vector compares (needle_counts); longer ones fill the whole table.
inline constexpr std::size_t kVectorCounted = 64;

// ByteCounts::of_sample(data, n, from) for the bytes that rarest_in_sample
// scores (offsets below min(m, scan_limit), and m - 1), the rest left 0:
// nothing reads them. A short needle has few distinct bytes, and each is
// counted with one compare per W sample bytes; the table's increments, a
// store each, cost several times more (a tenth of a 100 KiB search of hex
// digits). Falls back to the table for a long needle or a cut sample.
template <class V>
ByteCounts needle_counts(const std::uint8_t* data, std::size_t n, std::size_t from,
                         ByteRange needle, std::size_t scan_limit) noexcept {
    constexpr std::size_t S = ByteCounts::kSample;
    static_assert(S % V::kWidth == 0);
    const std::size_t m = needle.size;
    const std::size_t end = m < scan_limit ? m : scan_limit;
    if (end > kVectorCounted || from > n || n - from < S) {
        return ByteCounts::of_sample(data, n, from);
    }
    ByteCounts counts{};
    std::uint64_t counted[4] = {};
    const auto count = [&](std::uint8_t byte) {
        std::uint64_t& word = counted[byte / 64];
        const std::uint64_t bit = std::uint64_t{1} << (byte % 64);
        if ((word & bit) != 0) {
            return;
        }
        word |= bit;
        const typename V::Vec splat = V::splat(byte);
        std::size_t total = 0;
        for (std::size_t b = from; b < from + S; b += V::kWidth) {
            total += lane_count<V>(V::eq(load_at<V>(data, n, b), splat));
        }
        counts.of[byte] = static_cast<std::uint16_t>(total);
    };
    for (std::size_t k = 0; k < end; ++k) {
        count(needle.data[k]);
    }
    count(needle.data[m - 1]);
    return counts;
}

// Filters on the needle bytes rarest in a sample of the haystack around the
// cursor `i` (the bytes just before it, where there are enough), and moves
// the cursor back to the block offset whose loads of the new first anchor
// are aligned: the fewer than W positions examined again are known not to
// match. Returns how many anchors to test.
template <class V>
std::size_t refilter_by_count(const std::uint8_t* data, std::size_t n, ByteRange needle,
                              Filter<V>& filter, NeedlePlan& plan, std::size_t& i) noexcept {
    constexpr std::size_t kSample = ByteCounts::kSample;
    const std::size_t from = i > kSample ? i - kSample : 0;
    // Every needle byte: the filter chosen without the data has met data on
    // which it is weak, and a rare byte beyond the limit that ranking keeps
    // to (the 'e' of a long needle of 'z' in a run of 'z') spares a Two-Way
    // search of the rest. Scoring a byte costs a few cycles, and m <= n.
    const std::size_t scan_limit = needle.size;
    const ByteCounts counts = needle_counts<V>(data, n, from, needle, scan_limit);
    plan.rarest = rarest_in_sample(needle, scan_limit, counts);
    filter = rare_filter<V>(needle, plan.rarest);
    const bool rare_nearby =
        counts.of[filter.first.byte_value] == 0 && rare_in_window<V>(data, n, i, filter.first);
    i = aligned_at_or_before<V>(data, i, filter.first.offset);
    return anchors_to_test_by_count(filter, counts, rare_nearby);
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
                                                       std::size_t tested, NeedlePlan& plan,
                                                       std::size_t& i, VerifyBudget& budget,
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
                // tests fewer anchors: the ranked one has just passed 16 KiB
                // of this data without a false alarm to show for it.
                Filter<V> counted = filter;
                NeedlePlan counted_plan = plan;
                std::size_t restart = i;
                const std::size_t counted_tested =
                    refilter_by_count(data, n, needle, counted, counted_plan, restart);
                if (counted_tested < tested) {
                    filter = counted;
                    plan = counted_plan;
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
    tested = refilter_by_count(data, n, needle, filter, plan, i);
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

// Positions that the wide backends search with the plain filter (first,
// second and last byte, each candidate compared in full) before they rank
// the needle, and how much may fail there before they stop: a common word
// usually occurs within the first few hundred bytes of text, and found
// there it never pays for the ranking and the wide filter's setup. The
// prefix costs about 10 ns when the word is absent; a haystack below
// kPartnerFrom bytes, where that would be a tenth of the search or more,
// takes a shorter one (a word at 358 in 4 to 12 KiB of Russian took 15-16 ns
// with the longer, 21-23 ns with the shorter). The misses and the
// bytes they compared bound the extra work to a few hundred bytes, so that
// the search stays linear and a long needle that nearly matches everywhere
// (a run of one byte) gives up after one comparison.
inline constexpr std::size_t kPlainPrefix = 384;
inline constexpr std::size_t kShortPlainPrefix = 128;
inline constexpr std::size_t kPlainMisses = 8;
inline constexpr std::size_t kPlainBytes = 512;

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
SearchResult find_long_rare(ByteRange haystack, ByteRange needle, NeedlePlan& plan) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    const std::size_t last = needle.size - 1;
    static_assert(V::kAlignLoads);
    assert(n - W >= 4 * W + last);
    (void)W;
    (void)last;
    std::size_t i = 0;
    plan.rarest = rarest_by_rank(needle, rank_scan_limit(n));
    Filter<V> filter = rare_filter<V>(needle, plan.rarest);
    const std::size_t tested = anchors_to_test_by_rank(filter);
    VerifyBudget budget{needle.size};
    SearchResult result = SearchResult::not_found();
    if (align_after_prefix<V, true>(data, n, needle, filter, i, budget, result)) {
        return result;
    }
    if (rare_wide_phase<V>(data, n, needle, filter, tested, plan, i, budget, result) ==
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
// Kept apart from the ranked search (find_long_rare): this path's time below
// a few KiB is mostly fixed costs, and as one function with the ranked
// search it moved by a tenth either way with every change there.
// Precondition: 4 <= m <= n, n - m >= W - 1.
template <class V, bool kPartnered, class... Narrower>
[[gnu::always_inline]] inline SearchResult find_long_short(ByteRange haystack,
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
        exit = wide_steps<V, false>(data, n, needle, filter, i, budget, result);
    }
    if (exit == WideExit::kDecided) {
        return result;
    }
    return finish_long<V, Narrower...>(data, n, needle, filter, i, budget);
}

// find_long_short from kPartnerFrom bytes on, out of line: inlined as a
// second copy, it cost the shorter haystacks' copy 5%.
template <class V, class... Narrower>
[[gnu::noinline]] SearchResult find_long_partnered(ByteRange haystack, ByteRange needle) noexcept {
    return find_long_short<V, true, Narrower...>(haystack, needle);
}

// The filtered search. Precondition: 4 <= m <= n.
template <class V, class... Narrower>
SearchResult find_long(ByteRange haystack, ByteRange needle) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    assert(m >= 4 && m <= n && data != nullptr && needle.data != nullptr);
    if constexpr (picks_rare_anchors<V>) {
        // (Too short for one step of this width: find_n took short_long.
        // From kRareAnchorsFrom bytes on, find_n took find_long_prefixed,
        // unless the needle leaves too few windows for its steps: those few
        // take the short search, which checks its own room.)
        if (n >= kPartnerFrom) {
            return find_long_partnered<V, Narrower...>(haystack, needle);
        }
        return find_long_short<V, false, Narrower...>(haystack, needle);
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
// did not examine), out of line: see find_n; the Zen 4 hand-over calls the
// AVX2 variant's after its AVX-512 prefix (find_ranked_after_prefix_avx2).
// Precondition: after `end`, room for one wide step besides the first block.
template <class V, class... Narrower>
[[gnu::noinline]] SearchResult find_ranked_after_prefix(ByteRange haystack, ByteRange needle,
                                                        std::size_t end) noexcept {
    const ByteRange rest{haystack.data + end, haystack.size - end};
    NeedlePlan plan;
    const SearchResult later = find_long_rare<V, Narrower...>(rest, needle, plan);
    return later.found() ? SearchResult::at(end + later.offset()) : later;
}

// The wide backends' search of a haystack of kRareAnchorsFrom bytes or more:
// the plain prefix in a small frame of its own, so that a word found there
// never pays for the entry and exit of the ranked search, whose frame holds
// the filters' vectors (side by side, a common word found within the first
// 100 bytes of 100 KiB took 0.67-0.75 of its time for this, with AVX2 and
// AVX-512), then the ranked search of the rest. Out of line, so that find_n
// of shorter haystacks keeps its own small frame. Precondition: room for
// one wide step besides the first block after kPlainPrefix positions.
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
        if (haystack.size - m < short_windows<V>) {
            return short_long<V, Narrower...>(haystack.data, haystack.size, needle);
        }
    }
    if constexpr (picks_rare_anchors<V>) {
        constexpr std::size_t W = V::kWidth;
        const std::size_t n = haystack.size;
        if (n >= kRareAnchorsFrom && n - kPlainPrefix - W >= 4 * W + (m - 1)) {
            return find_long_prefixed<V, Narrower...>(haystack, needle);
        }
    }
    return find_long<V, Narrower...>(haystack, needle);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
