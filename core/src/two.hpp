// find_two: the first offset p with haystack[p] == b0 and haystack[p + 1] == b1.
//
// Tests positions, not bytes. With W-byte vectors:
//   main loop: for W = 16, while 5W bytes remain, five loads cover 4W
//     positions; the second byte of each position comes from the vector
//     shifted by one byte out of two adjacent loads, so a pair straddling
//     vectors costs no load. The wide variants (is_wide) run a sieve
//     instead (sieve.hpp), while 4W + 1 bytes remain: when the rarer needle
//     byte (byte_rank.hpp) is one text does not use, or, in a range of
//     kLoneGuessFrom bytes or more, one text uses rarely (kLoneGuessRank,
//     given up sooner), it alone at every position, the other byte checked
//     in the blocks it lets through; else, or after too many false alarms,
//     both bytes at every position, from aligned loads of the rarer one and
//     loads one byte beside them;
//   W positions per pass, while W + 1 bytes remain: the second byte comes
//     from an overlapping load one byte further;
//   the at most W bytes left: for W = 16, each position compared as one
//     16-bit little-endian value; a wider variant takes one more pass over
//     the last W positions, overlapping ones known not to match.
// A wide variant's range too short for one pass takes short_two before any
// setup: masked loads on AVX-512; on AVX2 overlapping 16-byte passes, and
// below 16 positions one pass of exact loads.
// A wide variant's range long enough for the sieve gets two W-position
// passes first, at 0 and W, and the sieve goes on from the first offset
// after them where the loads of the rarer byte are W-aligned
// (aligned_restart).
// Positions are tested in increasing blocks and the lowest lane of the first
// block with a match wins, so the result is the first occurrence.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "byte_rank.hpp"
#include "filter_policy.hpp"
#include "probe.hpp"
#include "qarvo/search.hpp"
#include "sieve.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// haystack[p] + 256 * haystack[p + 1]. Precondition: 2 readable bytes at p.
inline std::uint32_t packed_two(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8;
}

// Pair mask of the W positions at i: lane k is set when position i + k
// matches. Reads bytes i .. i + W. Precondition: i + W + 1 <= n.
template <class V>
[[gnu::always_inline]] inline typename V::Mask pair_mask_at(const std::uint8_t* data, std::size_t n,
                                                            std::size_t i, typename V::Vec first,
                                                            typename V::Vec second) noexcept {
    return V::and_(V::eq(load_at<V>(data, n, i), first), V::eq(load_at<V>(data, n, i + 1), second));
}

// A wide variant's range of at most short_positions positions (n - 1 of
// them): one pair of masked loads where the backend has them; otherwise two overlapping
// passes of the next narrower width when there are at least that many
// positions, down the list of narrower step types to one with masked (or
// exact) loads, or position by position where the list ends without one.
template <class V, class... Narrower>
[[gnu::always_inline]] inline SearchResult short_two(const std::uint8_t* data, std::size_t n,
                                                     std::uint8_t b0, std::uint8_t b1) noexcept {
    assert(n <= short_positions<V> + 1);
    if (n < 2) {
        return SearchResult::not_found();
    }
    const std::size_t positions = n - 1;
    if constexpr (has_masked_load<V>) {
        const typename V::Mask m =
            V::and_(V::and_(V::eq(load_first_at<V>(data, n, 0, positions), V::splat(b0)),
                            V::eq(load_first_at<V>(data, n, 1, positions), V::splat(b1))),
                    V::first_lanes(positions));
        return V::any(m) ? SearchResult::at(V::lowest(m)) : SearchResult::not_found();
    } else if constexpr (sizeof...(Narrower) > 0) {
        using N = std::tuple_element_t<0, std::tuple<Narrower...>>;
        if (positions >= N::kWidth) {
            const typename N::Vec first = N::splat(b0);
            const typename N::Vec second = N::splat(b1);
            return first_of_two_steps<N>(positions, [&](std::size_t at) {
                return pair_mask_at<N>(data, n, at, first, second);
            });
        }
        return short_two<Narrower...>(data, n, b0, b1);
    } else {
        const std::uint32_t packed = std::uint32_t{b0} | std::uint32_t{b1} << 8;
        for (std::size_t p = 0; p < positions; ++p) {
            if (packed_two(data + p) == packed) {
                return SearchResult::at(p);
            }
        }
        return SearchResult::not_found();
    }
}

// Positions i .. n - 2 after the main loop: W positions per pass, then
// the end (see the top of this file).
template <class V>
[[gnu::always_inline]] inline SearchResult find_two_from(const std::uint8_t* data, std::size_t n,
                                                         std::size_t i, std::uint8_t b0,
                                                         std::uint8_t b1, typename V::Vec first,
                                                         typename V::Vec second) noexcept {
    using Mask = typename V::Mask;
    constexpr std::size_t W = V::kWidth;
    // Positions i .. i + W - 1; reads bytes i .. i + W.
    while (n - i >= W + 1) {
        const Mask m = pair_mask_at<V>(data, n, i, first, second);
        if (V::any(m)) {
            return SearchResult::at(i + V::lowest(m));
        }
        i += W;
    }

    assert(i <= n && n - i <= W);
    if constexpr (is_wide<V>) {
        // The last W positions, n >= W + 1: those before i are known not to
        // match, so the lowest match among them is the first one.
        if (n - i < 2) {
            return SearchResult::not_found();
        }
        const std::size_t last = n - 1 - W;
        const Mask m = pair_mask_at<V>(data, n, last, first, second);
        return V::any(m) ? SearchResult::at(last + V::lowest(m)) : SearchResult::not_found();
    } else {
        const std::uint32_t packed = std::uint32_t{b0} | std::uint32_t{b1} << 8;
        for (std::size_t p = i; n - p >= 2; ++p) {
            if (packed_two(data + p) == packed) {
                return SearchResult::at(p);
            }
        }
        return SearchResult::not_found();
    }
}

// A wide variant's range of at least 5W + 1 bytes whose positions 0 .. 2W - 1
// do not match: the sieves from the first offset after them at which the
// rarer byte's loads are W-aligned, then the rest. Out of line and reached by a tail
// call, so that shorter ranges do not pay for its registers. kGuess: the
// rarer byte is tested alone on a guess (lone_guess), in a copy of its own,
// so that the searches that never guess keep the code they had without it
// (the early matches of the real-data cases, which are short enough to
// feel two more saved registers, moved when one function held both).
template <class V, bool kGuess = false>
[[gnu::noinline]] SearchResult find_two_long(const std::uint8_t* data, std::size_t n,
                                             std::uint8_t b0, std::uint8_t b1) noexcept {
    const std::size_t rare = kByteRank.of[b1] < kByteRank.of[b0] ? 1 : 0;
    const NeedleByte rarer{rare, rare == 0 ? b0 : b1};
    const NeedleByte other{1 - rare, rare == 0 ? b1 : b0};
    const std::uint8_t rank = kByteRank.of[rarer.value];
    std::size_t i = V::kWidth + aligned_restart<V>(data + rare);
    SearchResult found = SearchResult::not_found();
    if constexpr (kGuess) {
        QARVO_PROBE_PATH(kSieveGuessedLoneByte);
    }
    if ((kGuess || rank < kAlienRank) &&
        sieve<V, 1, 1>(data, n, 2, i, {{rarer}}, {{other}}, kGuess ? kGuessAlarmSlack : kAlarmSlack,
                       found)) {
        return found;
    }
    if (sieve<V, 2, 0>(data, n, 2, i, {{rarer, other}}, {}, kNeverGiveUp, found)) {
        return found;
    }
    return find_two_from<V>(data, n, i, b0, b1, V::splat(b0), V::splat(b1));
}

template <class V, class... Narrower>
SearchResult find_two(ByteRange haystack, std::uint8_t b0, std::uint8_t b1) noexcept {
    using Mask = typename V::Mask;
    using Vec = typename V::Vec;
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    assert(data != nullptr || n == 0);
    // Too short for one W-position pass (or, with masked loads, at most
    // one): before any setup.
    if constexpr (is_wide<V>) {
        if (n <= short_positions<V> + 1) {
            return short_two<V, Narrower...>(data, n, b0, b1);
        }
    }
    const Vec first = V::splat(b0);
    const Vec second = V::splat(b1);

    std::size_t i = 0;
    if constexpr (is_wide<V>) {
        // Long enough for one sieve pass from any restart offset: two
        // W-position passes at 0 and W here, the rest out of line. The
        // second keeps a match in the first 2W positions from paying for
        // the call and the sieve's setup, whose block of 4W positions is
        // then located through mask registers, slower on AVX-512 than
        // AVX2's (a digit pair 65 bytes into hex digests, the real-data
        // case md5_common; core/TUNING.md).
        if (n >= 5 * W + 1) {
            if (const Mask m = pair_mask_at<V>(data, n, 0, first, second); V::any(m)) {
                return SearchResult::at(V::lowest(m));
            }
            if (const Mask m = pair_mask_at<V>(data, n, W, first, second); V::any(m)) {
                return SearchResult::at(W + V::lowest(m));
            }
            if (n >= kLoneGuessFrom &&
                lone_guess(kByteRank.of[b0] < kByteRank.of[b1] ? kByteRank.of[b0]
                                                               : kByteRank.of[b1])) {
                return find_two_long<V, true>(data, n, b0, b1);
            }
            return find_two_long<V>(data, n, b0, b1);
        }
    } else {
        // Positions i .. i + 4W - 1; reads bytes i .. i + 5W - 1 (v4 is loaded
        // whole for its lane 0).
        while (n - i >= 5 * W) {
            const Vec v0 = load_at<V>(data, n, i);
            const Vec v1 = load_at<V>(data, n, i + W);
            const Vec v2 = load_at<V>(data, n, i + 2 * W);
            const Vec v3 = load_at<V>(data, n, i + 3 * W);
            const Vec v4 = load_at<V>(data, n, i + 4 * W);
            const Mask m0 =
                V::and_(V::eq(v0, first), V::eq(bytes_after<V, 1>(data, n, i, v0, v1), second));
            const Mask m1 = V::and_(V::eq(v1, first),
                                    V::eq(bytes_after<V, 1>(data, n, i + 1 * W, v1, v2), second));
            const Mask m2 = V::and_(V::eq(v2, first),
                                    V::eq(bytes_after<V, 1>(data, n, i + 2 * W, v2, v3), second));
            const Mask m3 = V::and_(V::eq(v3, first),
                                    V::eq(bytes_after<V, 1>(data, n, i + 3 * W, v3, v4), second));
            if (std::size_t offset; first_of_four<V>(m0, m1, m2, m3, offset)) [[unlikely]] {
                return SearchResult::at(i + offset);
            }
            i += 4 * W;
        }
    }
    return find_two_from<V>(data, n, i, b0, b1, first, second);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
