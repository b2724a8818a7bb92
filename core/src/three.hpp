// find_three: the first offset p with haystack[p .. p + 2] == (b0, b1, b2).
//
// The structure of find_two with one more byte. With W-byte vectors:
//   main loop, while 5W bytes remain: five loads cover 4W positions; the
//     second and third bytes come from the vectors shifted by one and two
//     bytes out of two adjacent loads (reloaded on AVX-512: bytes_after).
//     The 16-byte variants' main loop; the wide variants (is_wide) run
//     sieves (sieve.hpp) instead, while 4W + 2 bytes remain: the rarest
//     needle byte (byte_rank.hpp) alone when it is one text does not use
//     (or, as find_two, one it uses rarely in a range of kLoneGuessFrom
//     bytes or more), then the two rarer bytes, at every position, checking the others in
//     the blocks that pass, each until its false alarms exceed its budget;
//     then all three bytes at every position, the second and third shifted
//     out of two adjacent loads;
//   W positions per pass, while W + 2 bytes remain: three overlapping loads
//     at i, i + 1 and i + 2;
//   the at most W + 1 bytes left: for W = 16, each position compared as one
//     24-bit little-endian value; a wider variant takes one more pass over
//     the last W positions, overlapping ones known not to match.
// A wide variant's range too short for one pass takes short_three before any
// setup: masked loads on AVX-512; on AVX2 overlapping 16-byte passes, and
// below 16 positions one pass of exact loads.
// The wide variants start their sieves as find_two does: two W-position
// passes at 0 and W, then loads of the rarest byte W-aligned.
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
#include "two.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// haystack[p] + 256 * haystack[p + 1] + 65536 * haystack[p + 2].
// Precondition: 3 readable bytes at p.
inline std::uint32_t packed_three(const std::uint8_t* p) noexcept {
    return packed_two(p) | std::uint32_t{p[2]} << 16;
}

// The triple mask of the vector v loaded at some offset o, given the vectors
// s and t of the bytes at o + 1 and o + 2.
template <class V>
[[gnu::always_inline]] inline typename V::Mask triple_mask(typename V::Vec v, typename V::Vec s,
                                                           typename V::Vec t, typename V::Vec first,
                                                           typename V::Vec second,
                                                           typename V::Vec third) noexcept {
    return V::and_(V::and_(V::eq(v, first), V::eq(s, second)), V::eq(t, third));
}

// Triple mask of the W positions at i, from three overlapping loads.
// Reads bytes i .. i + W + 1. Precondition: i + W + 2 <= n.
template <class V>
[[gnu::always_inline]] inline typename V::Mask triple_mask_at(const std::uint8_t* data,
                                                              std::size_t n, std::size_t i,
                                                              typename V::Vec first,
                                                              typename V::Vec second,
                                                              typename V::Vec third) noexcept {
    return triple_mask<V>(load_at<V>(data, n, i), load_at<V>(data, n, i + 1),
                          load_at<V>(data, n, i + 2), first, second, third);
}

// A wide variant's range of at most short_positions positions (n - 2 of
// them), as short_two: masked loads on AVX-512; overlapping narrower passes
// otherwise, and below 16 positions one pass of exact loads, or position by
// position where the narrower step types have none.
template <class V, class... Narrower>
[[gnu::always_inline]] inline SearchResult short_three(const std::uint8_t* data, std::size_t n,
                                                       std::uint8_t b0, std::uint8_t b1,
                                                       std::uint8_t b2) noexcept {
    assert(n <= short_positions<V> + 2);
    if (n < 3) {
        return SearchResult::not_found();
    }
    const std::size_t positions = n - 2;
    if constexpr (has_masked_load<V>) {
        const typename V::Mask m = V::and_(triple_mask<V>(load_first_at<V>(data, n, 0, positions),
                                                          load_first_at<V>(data, n, 1, positions),
                                                          load_first_at<V>(data, n, 2, positions),
                                                          V::splat(b0), V::splat(b1), V::splat(b2)),
                                           V::first_lanes(positions));
        return V::any(m) ? SearchResult::at(V::lowest(m)) : SearchResult::not_found();
    } else if constexpr (sizeof...(Narrower) > 0) {
        using N = std::tuple_element_t<0, std::tuple<Narrower...>>;
        if (positions >= N::kWidth) {
            const typename N::Vec first = N::splat(b0);
            const typename N::Vec second = N::splat(b1);
            const typename N::Vec third = N::splat(b2);
            return first_of_two_steps<N>(positions, [&](std::size_t at) {
                return triple_mask_at<N>(data, n, at, first, second, third);
            });
        }
        return short_three<Narrower...>(data, n, b0, b1, b2);
    } else {
        const std::uint32_t packed =
            std::uint32_t{b0} | std::uint32_t{b1} << 8 | std::uint32_t{b2} << 16;
        for (std::size_t p = 0; p < positions; ++p) {
            if (packed_three(data + p) == packed) {
                return SearchResult::at(p);
            }
        }
        return SearchResult::not_found();
    }
}

// Positions i .. n - 3 with the loops that test all three bytes: the main
// loop (on a wide variant only after its sieves gave up), W positions per
// pass, then the end (see the top of this file).
template <class V>
[[gnu::always_inline]] inline SearchResult find_three_from(const std::uint8_t* data, std::size_t n,
                                                           std::size_t i, std::uint8_t b0,
                                                           std::uint8_t b1, std::uint8_t b2,
                                                           typename V::Vec first,
                                                           typename V::Vec second,
                                                           typename V::Vec third) noexcept {
    using Mask = typename V::Mask;
    using Vec = typename V::Vec;
    constexpr std::size_t W = V::kWidth;
    // Positions i .. i + 4W - 1; needs bytes up to i + 4W + 1 and reads
    // i .. i + 5W - 1.
    while (n - i >= 5 * W) {
        const Vec v0 = load_at<V>(data, n, i);
        const Vec v1 = load_at<V>(data, n, i + W);
        const Vec v2 = load_at<V>(data, n, i + 2 * W);
        const Vec v3 = load_at<V>(data, n, i + 3 * W);
        const Vec v4 = load_at<V>(data, n, i + 4 * W);
        const Mask m0 = triple_mask<V>(v0, bytes_after<V, 1>(data, n, i, v0, v1),
                                       bytes_after<V, 2>(data, n, i, v0, v1), first, second, third);
        const Mask m1 =
            triple_mask<V>(v1, bytes_after<V, 1>(data, n, i + 1 * W, v1, v2),
                           bytes_after<V, 2>(data, n, i + 1 * W, v1, v2), first, second, third);
        const Mask m2 =
            triple_mask<V>(v2, bytes_after<V, 1>(data, n, i + 2 * W, v2, v3),
                           bytes_after<V, 2>(data, n, i + 2 * W, v2, v3), first, second, third);
        const Mask m3 =
            triple_mask<V>(v3, bytes_after<V, 1>(data, n, i + 3 * W, v3, v4),
                           bytes_after<V, 2>(data, n, i + 3 * W, v3, v4), first, second, third);
        if (std::size_t offset; first_of_four<V>(m0, m1, m2, m3, offset)) [[unlikely]] {
            return SearchResult::at(i + offset);
        }
        i += 4 * W;
    }

    // Positions i .. i + W - 1; reads bytes i .. i + W + 1.
    while (n - i >= W + 2) {
        const Mask m = triple_mask_at<V>(data, n, i, first, second, third);
        if (V::any(m)) {
            return SearchResult::at(i + V::lowest(m));
        }
        i += W;
    }

    assert(i <= n && n - i <= W + 1);
    if constexpr (is_wide<V>) {
        // The last W positions, n >= W + 2: those before i are known not to
        // match, so the lowest match among them is the first one.
        if (n - i < 3) {
            return SearchResult::not_found();
        }
        const std::size_t last = n - 2 - W;
        const Mask m = triple_mask_at<V>(data, n, last, first, second, third);
        return V::any(m) ? SearchResult::at(last + V::lowest(m)) : SearchResult::not_found();
    } else {
        const std::uint32_t packed =
            std::uint32_t{b0} | std::uint32_t{b1} << 8 | std::uint32_t{b2} << 16;
        for (std::size_t p = i; n - p >= 3; ++p) {
            if (packed_three(data + p) == packed) {
                return SearchResult::at(p);
            }
        }
        return SearchResult::not_found();
    }
}

// A wide variant's range of at least 5W + 2 bytes whose positions 0 .. 2W - 1
// do not match: the sieves from the first offset after them at which the
// rarest byte's loads are W-aligned, then the rest. Out of line and reached by a tail
// call, as find_two_long; so is its copy for a guessed lone byte (kGuess).
template <class V, bool kGuess = false>
[[gnu::noinline]] SearchResult find_three_long(const std::uint8_t* data, std::size_t n,
                                               std::uint8_t b0, std::uint8_t b1,
                                               std::uint8_t b2) noexcept {
    // The needle's bytes, rarest first; equal ranks keep their
    // order. Each key is rank * 4 + offset, so sorting the keys sorts
    // both, in registers (an array of bytes sorted through memory
    // costs more than a short search).
    const std::uint32_t packed =
        std::uint32_t{b0} | std::uint32_t{b1} << 8 | std::uint32_t{b2} << 16;
    const std::uint32_t k0 = std::uint32_t{kByteRank.of[b0]} * 4;
    const std::uint32_t k1 = std::uint32_t{kByteRank.of[b1]} * 4 + 1;
    const std::uint32_t k2 = std::uint32_t{kByteRank.of[b2]} * 4 + 2;
    // Plain comparisons, not std::min/max: an unoptimised build would emit
    // those as functions shared with other variants' TUs (see vector.hpp).
    const std::uint32_t low01 = k0 < k1 ? k0 : k1;
    const std::uint32_t high01 = k0 < k1 ? k1 : k0;
    const std::uint32_t lowest = low01 < k2 ? low01 : k2;
    const std::uint32_t highest = high01 < k2 ? k2 : high01;
    const auto byte_of = [packed](std::uint32_t key) noexcept {
        const std::size_t offset = key % 4;
        return NeedleByte{offset, static_cast<std::uint8_t>(packed >> (8 * offset))};
    };
    const NeedleByte by_rank[3] = {byte_of(lowest), byte_of(k0 ^ k1 ^ k2 ^ lowest ^ highest),
                                   byte_of(highest)};
    const std::uint32_t rank = lowest / 4;
    std::size_t i = V::kWidth + aligned_restart<V>(data + by_rank[0].offset);
    SearchResult found = SearchResult::not_found();
    if constexpr (kGuess) {
        QARVO_PROBE_PATH(kSieveGuessedLoneByte);
    }
    if ((kGuess || rank < kAlienRank) &&
        sieve<V, 1, 2>(data, n, 3, i, {{by_rank[0]}}, {{by_rank[1], by_rank[2]}},
                       kGuess ? kGuessAlarmSlack : kAlarmSlack, found)) {
        return found;
    }
    if (sieve<V, 2, 1>(data, n, 3, i, {{by_rank[0], by_rank[1]}}, {{by_rank[2]}}, kAlarmSlack,
                       found)) {
        return found;
    }
    // Both gave up: every byte is common in this data. All three at every
    // position, in blocks of 4W positions, to the end of the blocks.
    if (sieve<V, 3, 0>(data, n, 3, i, {{{0, b0}, {1, b1}, {2, b2}}}, {}, kNeverGiveUp, found)) {
        return found;
    }
    return find_three_from<V>(data, n, i, b0, b1, b2, V::splat(b0), V::splat(b1), V::splat(b2));
}

template <class V, class... Narrower>
SearchResult find_three(ByteRange haystack, std::uint8_t b0, std::uint8_t b1,
                        std::uint8_t b2) noexcept {
    using Mask = typename V::Mask;
    using Vec = typename V::Vec;
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    assert(data != nullptr || n == 0);
    // Too short for one W-position pass (or, with masked loads, at most
    // one): before any setup.
    if constexpr (is_wide<V>) {
        if (n <= short_positions<V> + 2) {
            return short_three<V, Narrower...>(data, n, b0, b1, b2);
        }
    }
    const Vec first = V::splat(b0);
    const Vec second = V::splat(b1);
    const Vec third = V::splat(b2);

    std::size_t i = 0;
    if constexpr (is_wide<V>) {
        // Long enough for one sieve pass from any restart offset: two
        // W-position passes at 0 and W (as find_two's), then sieves that
        // test the rarest byte alone (when text does not use it), then the
        // two rarer bytes, each checking the others; the loop below only
        // when both gave up.
        if (n >= 5 * W + 2) {
            if (const Mask m = triple_mask_at<V>(data, n, 0, first, second, third); V::any(m)) {
                return SearchResult::at(V::lowest(m));
            }
            if (const Mask m = triple_mask_at<V>(data, n, W, first, second, third); V::any(m)) {
                return SearchResult::at(W + V::lowest(m));
            }
            if (n >= kLoneGuessFrom) {
                const std::uint8_t r01 =
                    kByteRank.of[b0] < kByteRank.of[b1] ? kByteRank.of[b0] : kByteRank.of[b1];
                if (lone_guess(r01 < kByteRank.of[b2] ? r01 : kByteRank.of[b2])) {
                    return find_three_long<V, true>(data, n, b0, b1, b2);
                }
            }
            return find_three_long<V>(data, n, b0, b1, b2);
        }
    }
    return find_three_from<V>(data, n, i, b0, b1, b2, first, second, third);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
