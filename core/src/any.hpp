// find_any, rfind_any, find_not_any, rfind_not_any: the first or last offset
// whose byte is (or is not) in a ByteSet.
//
// The "not" forms search for the members of the set's complement, so every
// routine searches for the members of one target set. How a vector's lanes
// are tested depends on the target's size, decided once per call:
//   0 or 256 members          no load at all: not found, or the first/last offset
//   1 to 3 members            compares with each member, ORed (InBytes); on
//                             backends with byte differences, blocks first
//                             tested by the differences' minimum, and sets of
//                             3 by the table lookup below, which takes fewer
//                             operations per vector there
//   253 to 255 members        the same for the 1 to 3 non-members, complemented (OutOfBytes)
//   members (or non-members)  on backends with a bit lookup (SetOps::kWindow),
//   within 64 values          that lookup (InWindow, InFirstWindow; OutOf them)
//   otherwise                 the backend's table lookup (SetOps::in_table, InTable),
//                             on x86 a cheaper one when no member (or every
//                             byte) is from 0x80 up (in_low_table, InLowTable);
//                             plain SSE2 has no byte shuffle: a compare per
//                             member (or non-member) up to 16 (InList), else
//                             byte by byte
// A complemented mask sets the lanes a masked load left out, so those are
// always ANDed away with first_lanes.
//
// The loops are find_one's, simplified: one vector at the start (the end,
// backwards), then blocks of four vectors, on the wide variants from an
// aligned offset once the range is long enough (asking for the lines ahead
// once it is longer still: prefetch_ahead), then single vectors, then one
// last vector that overlaps the bytes already examined. A range shorter than
// one vector takes a masked load (AVX-512), two overlapping vectors of the
// next narrower width, or one exact load (AVX2's Sse2Exact), or, on the
// 16-byte variants, a byte-by-byte loop; nothing outside the range is read.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "qarvo/search.hpp"
#include "set_match.hpp"
#include "set_ops.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// Whether ranges of n bytes take the short path: shorter than one vector, or
// with masked loads at most one.
template <class V>
[[gnu::always_inline]] inline bool is_short(std::size_t n) noexcept {
    if constexpr (has_masked_load<V>) {
        return n <= V::kWidth;
    } else {
        return n < V::kWidth;
    }
}

// The mask of the W bytes at offset `at`. Precondition: at + W <= size.
template <class V, class Match>
[[gnu::always_inline]] inline typename V::Mask set_mask_at(const std::uint8_t* data,
                                                           std::size_t size, std::size_t at,
                                                           const Match& match) noexcept {
    return match(load_at<V>(data, size, at));
}

// Whether the four vectors at `at` may hold a member: for matchers with
// hits (SetOps::kHits), the OR of their hits tested once; for matchers with
// misses (byte differences, zero in the lanes of members), their minimum
// tested once; otherwise true, and the caller's masks decide.
// Precondition: at + 4 W <= size.
template <class V, class Match>
[[gnu::always_inline]] inline bool may_hold_member(const std::uint8_t* data, std::size_t size,
                                                   std::size_t at, const Match& match) noexcept {
    if constexpr (requires(typename V::Vec x) { match.misses(x); }) {
        constexpr std::size_t W = V::kWidth;
        const auto d01 = V::min_diff(match.misses(load_at<V>(data, size, at)),
                                     match.misses(load_at<V>(data, size, at + W)));
        const auto d23 = V::min_diff(match.misses(load_at<V>(data, size, at + 2 * W)),
                                     match.misses(load_at<V>(data, size, at + 3 * W)));
        return V::any(V::zero_lanes(V::min_diff(d01, d23)));
    } else if constexpr (requires(typename V::Vec x) { match.hits(x); }) {
        constexpr std::size_t W = V::kWidth;
        using Ops = SetOps<V>;
        const auto h01 = Ops::or_hits(match.hits(load_at<V>(data, size, at)),
                                      match.hits(load_at<V>(data, size, at + W)));
        const auto h23 = Ops::or_hits(match.hits(load_at<V>(data, size, at + 2 * W)),
                                      match.hits(load_at<V>(data, size, at + 3 * W)));
        return Ops::any_hit(Ops::or_hits(h01, h23));
    } else {
        (void)data;
        (void)size;
        (void)at;
        (void)match;
        return true;
    }
}

// The first member among fewer than W bytes (masked loads: at most W).
template <class Kind, class V, class... Narrower>
SearchResult first_in_short(const std::uint8_t* data, std::size_t n,
                            const ByteSet& target) noexcept {
    if constexpr (has_masked_load<V>) {
        const typename Kind::template M<V> match(target);
        const typename V::Mask m =
            V::and_(match(load_first_at<V>(data, n, 0, n)), V::first_lanes(n));
        return V::any(m) ? SearchResult::at(V::lowest(m)) : SearchResult::not_found();
    } else if constexpr (sizeof...(Narrower) > 0) {
        using N = std::tuple_element_t<0, std::tuple<Narrower...>>;
        if (n >= N::kWidth) {
            const typename Kind::template M<N> match(target);
            return first_of_two_steps<N>(
                n, [&](std::size_t at) { return set_mask_at<N>(data, n, at, match); });
        }
        return first_in_short<Kind, Narrower...>(data, n, target);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            if (target.contains(data[i])) {
                return SearchResult::at(i);
            }
        }
        return SearchResult::not_found();
    }
}

// The last member among fewer than W bytes (masked loads: at most W).
template <class Kind, class V, class... Narrower>
SearchResult last_in_short(const std::uint8_t* data, std::size_t n,
                           const ByteSet& target) noexcept {
    if constexpr (has_masked_load<V>) {
        const typename Kind::template M<V> match(target);
        const typename V::Mask m =
            V::and_(match(load_first_at<V>(data, n, 0, n)), V::first_lanes(n));
        return V::any(m) ? SearchResult::at(V::highest(m)) : SearchResult::not_found();
    } else if constexpr (sizeof...(Narrower) > 0) {
        using N = std::tuple_element_t<0, std::tuple<Narrower...>>;
        if (n >= N::kWidth) {
            // Two overlapping steps, the one at the end first: a position in
            // the overlap answers the same in both.
            const typename Kind::template M<N> match(target);
            const std::size_t last = n - N::kWidth;
            if (const auto m = set_mask_at<N>(data, n, last, match); N::any(m)) {
                return SearchResult::at(last + N::highest(m));
            }
            const auto m = set_mask_at<N>(data, n, 0, match);
            return N::any(m) ? SearchResult::at(N::highest(m)) : SearchResult::not_found();
        }
        return last_in_short<Kind, Narrower...>(data, n, target);
    } else {
        for (std::size_t i = n; i > 0; --i) {
            if (target.contains(data[i - 1])) {
                return SearchResult::at(i - 1);
            }
        }
        return SearchResult::not_found();
    }
}

// The shortest range whose loads the wide variants move onto W-aligned
// addresses after the first vector: long enough that the bytes examined twice
// are few beside the rest.
template <class V>
inline constexpr std::size_t set_aligned_from = 8 * V::kWidth;

// The first member of the target in data[0 .. n - 1]. With kPrefetch, each
// block of four vectors asks for the lines ahead (prefetch_ahead).
template <class Kind, bool kPrefetch, class V, class... Narrower>
SearchResult first_in(const std::uint8_t* data, std::size_t n, const ByteSet& target) noexcept {
    constexpr std::size_t W = V::kWidth;
    if (is_short<V>(n)) {
        return first_in_short<Kind, V, Narrower...>(data, n, target);
    }
    using Mask = typename V::Mask;
    const typename Kind::template M<V> match(target);
    if (const Mask m = set_mask_at<V>(data, n, 0, match); V::any(m)) {
        return SearchResult::at(V::lowest(m));
    }
    std::size_t i = W;  // offsets below i are examined, and none matched
    if constexpr (V::kAlignLoads) {
        if (n >= set_aligned_from<V>) {
            i = aligned_restart<V>(data);
        }
    }
    while (n - i >= 4 * W) {
        if constexpr (kPrefetch) {
            prefetch_ahead(data, n, i);
        }
        if (!may_hold_member<V>(data, n, i, match)) [[likely]] {
            i += 4 * W;
            continue;
        }
        const Mask m0 = set_mask_at<V>(data, n, i, match);
        const Mask m1 = set_mask_at<V>(data, n, i + W, match);
        const Mask m2 = set_mask_at<V>(data, n, i + 2 * W, match);
        const Mask m3 = set_mask_at<V>(data, n, i + 3 * W, match);
        if (std::size_t offset = 0; first_of_four<V>(m0, m1, m2, m3, offset)) [[unlikely]] {
            return SearchResult::at(i + offset);
        }
        i += 4 * W;
    }
    while (n - i >= W) {
        if (const Mask m = set_mask_at<V>(data, n, i, match); V::any(m)) {
            return SearchResult::at(i + V::lowest(m));
        }
        i += W;
    }
    // The last W bytes: those before i are known not to match, so the lowest
    // member among them is the first.
    if (i < n) {
        if (const Mask m = set_mask_at<V>(data, n, n - W, match); V::any(m)) {
            return SearchResult::at(n - W + V::lowest(m));
        }
    }
    return SearchResult::not_found();
}

// The last member of the target in data[0 .. n - 1]: find_any's loop walked
// from the end.
template <class Kind, bool kPrefetch, class V, class... Narrower>
SearchResult last_in(const std::uint8_t* data, std::size_t n, const ByteSet& target) noexcept {
    constexpr std::size_t W = V::kWidth;
    if (is_short<V>(n)) {
        return last_in_short<Kind, V, Narrower...>(data, n, target);
    }
    using Mask = typename V::Mask;
    const typename Kind::template M<V> match(target);
    if (const Mask m = set_mask_at<V>(data, n, n - W, match); V::any(m)) {
        return SearchResult::at(n - W + V::highest(m));
    }
    std::size_t end = n - W;  // offsets from end on are examined, and none matched
    if constexpr (V::kAlignLoads) {
        if (n >= set_aligned_from<V>) {
            // The highest W-aligned address in data + n - W + 1 .. data + n.
            end = n - (reinterpret_cast<std::uintptr_t>(data) + n) % W;
        }
    }
    while (end >= 4 * W) {
        const std::size_t at = end - 4 * W;
        if constexpr (kPrefetch) {
            prefetch_behind(data, n, at);
        }
        if (!may_hold_member<V>(data, n, at, match)) [[likely]] {
            end = at;
            continue;
        }
        const Mask m0 = set_mask_at<V>(data, n, at, match);
        const Mask m1 = set_mask_at<V>(data, n, at + W, match);
        const Mask m2 = set_mask_at<V>(data, n, at + 2 * W, match);
        const Mask m3 = set_mask_at<V>(data, n, at + 3 * W, match);
        if (std::size_t offset = 0; last_of_four<V>(m0, m1, m2, m3, offset)) [[unlikely]] {
            return SearchResult::at(at + offset);
        }
        end = at;
    }
    while (end >= W) {
        if (const Mask m = set_mask_at<V>(data, n, end - W, match); V::any(m)) {
            return SearchResult::at(end - W + V::highest(m));
        }
        end -= W;
    }
    // The first W bytes: those from end on are known not to match, so the
    // highest member among them is the last.
    if (end > 0) {
        if (const Mask m = set_mask_at<V>(data, n, 0, match); V::any(m)) {
            return SearchResult::at(V::highest(m));
        }
    }
    return SearchResult::not_found();
}

// Whether a forward loop of this kind asks for the lines ahead of a long
// range. The compares do, and read 64 MiB faster for it
// (set/k=2/qarvo.find_any/n=67108864); the table lookups, several
// operations per vector, did not gain, and lost some
// (set/k=3/qarvo.find_any/n=67108864): going up through memory at their
// pace, the hardware's own prefetch keeps ahead of them. The bit lookups of
// windows, two or three operations a vector, gain as the compares do
// (set/window/k=16/qarvo.find_any/n=67108864). Going down, every kind gains
// (set/k=3/qarvo.rfind_any/n=67108864).
template <class Kind>
inline constexpr bool prefetches_forward = false;
template <std::size_t K>
inline constexpr bool prefetches_forward<ByCompare<K>> = true;
template <std::size_t K>
inline constexpr bool prefetches_forward<ByComplementedCompare<K>> = true;
template <>
inline constexpr bool prefetches_forward<ByWindow> = true;
template <>
inline constexpr bool prefetches_forward<ByFirstWindow> = true;
template <>
inline constexpr bool prefetches_forward<ByComplementedWindow> = true;
template <>
inline constexpr bool prefetches_forward<ByComplementedFirstWindow> = true;

// The loop of one kind of test over data[0 .. n - 1], forwards or
// backwards, as a callable taking the kind: run(ByTable{}). A long range
// takes the loop that asks for the lines ahead where that gains; the test
// inside a shorter range's loop cost it (set/k=2/qarvo.rfind_any/n=4096).
// A lambda rather than a function template: through one, GCC 12 compiled
// search_set's returns into calls of the loops, with a frame, where it
// jumps to them.
template <bool kBackwards, class V, class... Narrower>
[[gnu::always_inline]] inline auto set_loops(const std::uint8_t* data, std::size_t n,
                                             const ByteSet& target) noexcept {
    return [data, n, &target]<class Kind>(Kind) {
        if constexpr (kBackwards) {
            return n >= kPrefetchFrom ? last_in<Kind, true, V, Narrower...>(data, n, target)
                                      : last_in<Kind, false, V, Narrower...>(data, n, target);
        } else if constexpr (prefetches_forward<Kind>) {
            return n >= kPrefetchFrom ? first_in<Kind, true, V, Narrower...>(data, n, target)
                                      : first_in<Kind, false, V, Narrower...>(data, n, target);
        } else {
            return first_in<Kind, false, V, Narrower...>(data, n, target);
        }
    };
}

// The shortest range whose sets are tested for a window (SetOps::kWindow).
template <class V>
inline constexpr std::size_t window_from = 8 * V::kWidth;

// On backends with a bit lookup (SetOps::kWindow): whether the members (or,
// for the usual targets of the "not" forms, the non-members) lie within 64
// consecutive values (whitespace, digits, punctuation, the letters of one
// case), and if so the search by that lookup, in `result`. Out of line, for
// ranges of at least window_from bytes: inlined, the test of the set cost
// search_set's short ranges a frame (set/k=4/qarvo.find_any/n=64), and on
// a range this long the call is nothing.
template <bool kBackwards, class V, class... Narrower>
[[gnu::noinline]] bool search_window(const std::uint8_t* data, std::size_t n, const ByteSet& target,
                                     SearchResult& result) noexcept {
    const auto run = set_loops<kBackwards, V, Narrower...>(data, n, target);
    if (fits_window(target)) {
        result = (target.word(1) | target.word(2) | target.word(3)) == 0 ? run(ByFirstWindow{})
                                                                         : run(ByWindow{});
        return true;
    }
    if (complement_fits_window(target)) {
        result = (~target.word(1) | ~target.word(2) | ~target.word(3)) == 0
                     ? run(ByComplementedFirstWindow{})
                     : run(ByComplementedWindow{});
        return true;
    }
    return false;
}

// The search for the members of `target`, forwards or backwards, with the
// test its size calls for.
template <bool kBackwards, class V, class... Narrower>
SearchResult search_set(ByteRange haystack, const ByteSet& target) noexcept {
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    assert(data != nullptr || n == 0);
    const std::size_t members = target.size();
    if (n == 0 || members == 0) {
        return SearchResult::not_found();
    }
    if (members == 256) {
        return SearchResult::at(kBackwards ? n - 1 : 0);
    }
    const auto run = set_loops<kBackwards, V, Narrower...>(data, n, target);
    switch (members) {
        case 1:
            return run(ByCompare<1>{});
        case 2:
            return run(ByCompare<2>{});
        case 3:
            // Three differences and their minimum cost more per vector than
            // the table lookup where both exist (AVX-512: the core
            // benchmark's set/k=3 rows).
            if constexpr (!(has_byte_diff<V> && has_table<V>)) {
                return run(ByCompare<3>{});
            }
            break;
        case 253:
            return run(ByComplementedCompare<3>{});
        case 254:
            return run(ByComplementedCompare<2>{});
        case 255:
            return run(ByComplementedCompare<1>{});
        default:
            break;
    }
    if constexpr (has_window<V>) {
        if (SearchResult found = SearchResult::not_found();
            n >= window_from<V> &&
            search_window<kBackwards, V, Narrower...>(data, n, target, found)) {
            return found;
        }
    }
    if constexpr (has_low_table<V>) {
        // Sets of ASCII bytes (and their complements, the "not" forms' usual
        // targets) skip the half of the lookup for the bytes from 0x80.
        if ((target.word(2) | target.word(3)) == 0) {
            return run(ByLowTable{});
        }
        if ((target.word(2) & target.word(3)) == ~std::uint64_t{0}) {
            return run(ByComplementedLowTable{});
        }
    }
    if constexpr (has_table<V>) {
        return run(ByTable{});
    } else {
        // No byte shuffle (plain SSE2): a compare per member (or non-member)
        // where they are few, else the set's 256-bit map, byte by byte.
        if (members <= kMaxListed) {
            return run(ByList{});
        }
        if (256 - members <= kMaxListed) {
            return run(ByComplementedList{});
        }
        if constexpr (kBackwards) {
            for (std::size_t i = n; i > 0; --i) {
                if (target.contains(data[i - 1])) {
                    return SearchResult::at(i - 1);
                }
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                if (target.contains(data[i])) {
                    return SearchResult::at(i);
                }
            }
        }
        return SearchResult::not_found();
    }
}

template <class V, class... Narrower>
SearchResult find_any(ByteRange haystack, const ByteSet& set) noexcept {
    return search_set<false, V, Narrower...>(haystack, set);
}

template <class V, class... Narrower>
SearchResult rfind_any(ByteRange haystack, const ByteSet& set) noexcept {
    return search_set<true, V, Narrower...>(haystack, set);
}

template <class V, class... Narrower>
SearchResult find_not_any(ByteRange haystack, const ByteSet& set) noexcept {
    return search_set<false, V, Narrower...>(haystack, set.complement());
}

template <class V, class... Narrower>
SearchResult rfind_not_any(ByteRange haystack, const ByteSet& set) noexcept {
    return search_set<true, V, Narrower...>(haystack, set.complement());
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
