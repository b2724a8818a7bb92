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
//     one test of the four masks ORed together;
//   narrow phase, while W + m - 1 bytes remain: W candidates from 3 loads;
//   the fewer than W windows left: for W = 16 compared one by one; a wider
//     variant (is_wide) takes one more step over the last W windows, and
//     a haystack with fewer than W windows goes to short_long.
// The wide backends (kAlignLoads), when the haystack is long enough for the
// wide phase, take one narrow step at 0 and continue from the first W-aligned
// block offset after it (aligned_restart): the loads at b are then aligned.
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
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>

#include "byte_rank.hpp"
#include "one.hpp"
#include "qarvo/search.hpp"
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

    // True once more than kPerByte * (position + needle_size) + kSlack bytes
    // have been compared. Written with a division, which cannot overflow.
    bool exhausted_at(std::size_t position) const noexcept {
        return compared > kSlack && (compared - kSlack) / kPerByte > position + needle_size;
    }
};

// One needle byte at an offset, splat into a vector.
template <class V>
struct Anchor {
    std::size_t offset;
    typename V::Vec byte;

    static Anchor at(ByteRange needle, std::size_t offset) noexcept {
        return Anchor{offset, V::splat(needle.data[offset])};
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

// rarest_inner_offset, computed on first use: a haystack too short for any
// vector step never needs it.
inline constexpr std::size_t kRareOffsetUnknown = 0;

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
// first, middle and last anchors match at b + k.
// Precondition: b + W + m - 1 <= n (the last anchor's load ends there).
template <class V>
[[gnu::always_inline]] inline typename V::Mask candidates(const std::uint8_t* data, std::size_t n,
                                                          std::size_t b,
                                                          const Filter<V>& filter) noexcept {
    return V::and_(
        V::and_(V::eq(load_at<V>(data, n, b), filter.first.byte),
                V::eq(load_at<V>(data, n, b + filter.middle.offset), filter.middle.byte)),
        V::eq(load_at<V>(data, n, b + filter.last.offset), filter.last.byte));
}

// The candidates of `mask` (block offset `base`) whose check anchor matches.
// Precondition: base + W + m - 1 <= n; the check offset is below m - 1.
template <class V>
[[gnu::always_inline]] inline typename V::Mask refine(const std::uint8_t* data, std::size_t n,
                                                      const Filter<V>& filter,
                                                      typename V::Mask mask,
                                                      std::size_t base) noexcept {
    return V::and_(mask, V::eq(load_at<V>(data, n, base + filter.check.offset), filter.check.byte));
}

// Compares the needle at each candidate of `mask` (block offset `base`),
// lowest lane first. Returns true with `result` set when the search is
// decided: a candidate verified, or the budget ran out and Two-Way answered
// for the rest. Precondition: base + W + m - 1 <= n, so each candidate's m
// bytes are inside.
template <class V>
[[gnu::always_inline]] inline bool verify(const std::uint8_t* data, std::size_t n, ByteRange needle,
                                          typename V::Mask mask, std::size_t base,
                                          VerifyBudget& budget, SearchResult& result) noexcept {
    const std::size_t m = needle.size;
    for (auto lanes = V::lanes(mask); !V::empty(lanes); lanes = V::drop_first(lanes)) {
        const std::size_t p = base + V::first(lanes);
        assert(p <= n && m <= n - p);
        if (budget.exhausted_at(p)) [[unlikely]] {
            result = shift_result(two_way_search(ByteRange{data + p, n - p}, needle), p);
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
};

// A wide step whose candidates the check anchor all rejects (a false alarm)
// costs a mispredicted branch and four more compares. Once false alarms
// exceed one step in kFalseAlarmShare, plus kFalseAlarmSlack, the search
// swaps the middle and check anchors: text needles made of common letters
// get there within a few KiB, where the rare byte then filters far better
// than the second; random data and needles with a rare byte never do.
inline constexpr std::size_t kFalseAlarmShare = 64;
inline constexpr std::size_t kFalseAlarmSlack = 16;

// Wide steps from the cursor `i`: 4W candidates from the masks of four
// blocks, one test of the four ORed together. The candidates are refined by
// the check anchor before any is compared in full, in increasing position:
// the blocks in address order, the lanes of a mask lowest first. With
// kStopWhenWeak, the run returns kFilterWeak once false alarms pass the
// share above; `i` is then the first position not yet examined.
template <class V, bool kStopWhenWeak>
[[gnu::always_inline]] inline WideExit wide_steps(const std::uint8_t* data, std::size_t n,
                                                  ByteRange needle, const Filter<V>& filter,
                                                  std::size_t& i, VerifyBudget& budget,
                                                  SearchResult& result) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::size_t last = needle.size - 1;
    const std::size_t start = i;
    std::size_t false_alarms = 0;
    // Candidates i .. i + 4W - 1; the highest byte read is i + 4W + m - 2.
    while (n - i >= 4 * W + last) {
        typename V::Mask c0 = candidates<V>(data, n, i, filter);
        typename V::Mask c1 = candidates<V>(data, n, i + W, filter);
        typename V::Mask c2 = candidates<V>(data, n, i + 2 * W, filter);
        typename V::Mask c3 = candidates<V>(data, n, i + 3 * W, filter);
        if (V::any(V::or_(V::or_(c0, c1), V::or_(c2, c3)))) [[unlikely]] {
            c0 = refine<V>(data, n, filter, c0, i);
            c1 = refine<V>(data, n, filter, c1, i + W);
            c2 = refine<V>(data, n, filter, c2, i + 2 * W);
            c3 = refine<V>(data, n, filter, c3, i + 3 * W);
            if (V::any(V::or_(V::or_(c0, c1), V::or_(c2, c3)))) {
                if (verify<V>(data, n, needle, c0, i, budget, result) ||
                    verify<V>(data, n, needle, c1, i + W, budget, result) ||
                    verify<V>(data, n, needle, c2, i + 2 * W, budget, result) ||
                    verify<V>(data, n, needle, c3, i + 3 * W, budget, result)) {
                    return WideExit::kDecided;
                }
            } else if constexpr (kStopWhenWeak) {
                if (++false_alarms > kFalseAlarmSlack + (i - start) / (4 * W * kFalseAlarmShare)) {
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

// A wide variant's haystack of at most short_positions windows (n - m + 1
// of them): the filter on the first, second and last bytes, then each
// candidate compared in full; no check anchor, whose choice would cost more
// than it saves here. One masked load per anchor where the backend has them;
// otherwise two overlapping steps of the next narrower width when there are
// at least that many windows (a candidate in the overlap is compared twice,
// failing both times), and window by window below 16.
// Precondition: 4 <= m <= n.
template <class V, class... Narrower>
[[gnu::always_inline]] inline SearchResult short_long(const std::uint8_t* data, std::size_t n,
                                                      ByteRange needle) noexcept {
    const std::size_t m = needle.size;
    assert(m >= 4 && m <= n && n - m < short_positions<V>);
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
    } else if constexpr (sizeof...(Narrower) > 0) {
        using N = std::tuple_element_t<0, std::tuple<Narrower...>>;
        if (windows >= N::kWidth) {
            const Anchor<N> second = Anchor<N>::at(needle, 1);
            const Filter<N> filter{Anchor<N>::at(needle, 0), second, Anchor<N>::at(needle, m - 1),
                                   second};
            if (const auto c = candidates<N>(data, n, 0, filter); N::any(c)) {
                if (const SearchResult r = verify_short<N>(data, n, needle, c, 0); r.found()) {
                    return r;
                }
            }
            const std::size_t last = windows - N::kWidth;
            const auto c = candidates<N>(data, n, last, filter);
            return N::any(c) ? verify_short<N>(data, n, needle, c, last)
                             : SearchResult::not_found();
        }
        return short_long<Narrower...>(data, n, needle);
    } else {
        return scan_windows(data, n, 0, needle);
    }
}

// The filtered search. `rare_offset` is rarest_inner_offset(needle), or
// kRareOffsetUnknown until some width computes it; it is passed on so that it
// is computed at most once per call. Precondition: 4 <= m <= n.
template <class V, class... Narrower>
SearchResult find_long(ByteRange haystack, ByteRange needle, std::size_t rare_offset) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    assert(m >= 4 && m <= n && data != nullptr && needle.data != nullptr);
    const std::size_t last = m - 1;
    // Too short for one vector step of this width: before any per-call setup.
    // (A wide variant took short_long in find_n.)
    if (n - m < W - 1) {
        assert(!is_wide<V>);
        return scan_windows(data, n, 0, needle);
    }
    if (rare_offset == kRareOffsetUnknown) {
        rare_offset = rarest_inner_offset(needle, rare_scan_limit(n));
    }
    Filter<V> filter{Anchor<V>::at(needle, 0), Anchor<V>::at(needle, 1),
                     Anchor<V>::at(needle, last), Anchor<V>::at(needle, rare_offset)};
    VerifyBudget budget{m};
    SearchResult result = SearchResult::not_found();

    std::size_t i = 0;
    // Long enough for the wide phase from any restart offset: one narrow
    // step at 0, then W-aligned block offsets. Candidates of the overlap
    // are verified twice, which is harmless (each failed the first time).
    if constexpr (V::kAlignLoads) {
        if (n - W >= 4 * W + last) {
            const typename V::Mask c = candidates<V>(data, n, 0, filter);
            if (V::any(c) &&
                verify<V>(data, n, needle, refine<V>(data, n, filter, c, 0), 0, budget, result)) {
                return result;
            }
            i = aligned_restart<V>(data);
        }
    }
    WideExit exit = wide_steps<V, true>(data, n, needle, filter, i, budget, result);
    if (exit == WideExit::kFilterWeak) {
        filter = filter.swapped();
        exit = wide_steps<V, false>(data, n, needle, filter, i, budget, result);
    }
    if (exit == WideExit::kDecided) {
        return result;
    }

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
        if (haystack.size - m < short_positions<V>) {
            return short_long<V, Narrower...>(haystack.data, haystack.size, needle);
        }
    }
    return find_long<V, Narrower...>(haystack, needle, kRareOffsetUnknown);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
