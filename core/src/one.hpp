// find_one: the first offset p with haystack[p] == needle.
//
// With W-byte vectors: a main loop over blocks of 16 vectors (256 bytes at
// W = 16), then at most one block each of 8, 4, 2 and 1 vectors, then the
// fewer than W bytes that remain. For W = 16 that remainder is scanned byte by
// byte, and blocks count from the start of the range, whatever its alignment.
//
// The wide variants (is_wide) differ at both ends. They test one vector at 0
// first, and when the range is long enough for the main loop, count their
// blocks from the first W-aligned offset after it (aligned_restart, with
// kAlignLoads), starting with one block of 2 and one of 4 vectors when at
// least 6 vectors remain. The remainder is one more vector, the range's last
// W bytes, which overlaps bytes already known not to match. A range shorter
// than W takes short_one before any setup: one masked load on AVX-512 (two
// overlapping 16-byte vectors from 16 to 32 bytes); on AVX2 two overlapping
// 16-byte vectors from 16 bytes, and one step of exact loads below.
//
// A block's masks are ORed pairwise into a tree (pairs, quarters, halves). The
// root decides whether the block holds a match; only the block holding the
// first match is then descended, by halves, through ORs already computed.
// Backends with byte differences (AVX-512) test the main loop's blocks and
// the descending blocks as those instead (any_match_in), an XOR and an
// unsigned minimum per vector with one mask per block, and locate a hit by
// computing the masks of its block once per call; the ramp keeps its mask
// trees, which locate an early hit without a second pass.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "qarvo/search.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// Locating the first set lane of a block of 2, 4, 8 or 16 masks, given the
// OR of the whole block (`all`) and the ORs the reduction computed for the
// first half at every level below it: if the first half has a lane set the
// answer is there; otherwise the second half's OR equals the block's, so the
// descent goes on with `all` and the second half's own first halves. Nothing
// is recomputed, and only the first halves need to stay live.
// Precondition (each): V::any(all).
template <class V>
[[gnu::always_inline]] inline std::size_t first_of_2(typename V::Mask all,
                                                     typename V::Mask m0) noexcept {
    assert(V::any(all));
    return V::any(m0) ? V::lowest(m0) : V::kWidth + V::lowest(all);
}

template <class V>
[[gnu::always_inline]] inline std::size_t first_of_4(typename V::Mask all, typename V::Mask p0,
                                                     typename V::Mask m0,
                                                     typename V::Mask m2) noexcept {
    return V::any(p0) ? first_of_2<V>(p0, m0) : 2 * V::kWidth + first_of_2<V>(all, m2);
}

template <class V>
[[gnu::always_inline]] inline std::size_t first_of_8(typename V::Mask all, typename V::Mask q0,
                                                     typename V::Mask p0, typename V::Mask p2,
                                                     typename V::Mask m0, typename V::Mask m2,
                                                     typename V::Mask m4,
                                                     typename V::Mask m6) noexcept {
    return V::any(q0) ? first_of_4<V>(q0, p0, m0, m2)
                      : 4 * V::kWidth + first_of_4<V>(all, p2, m4, m6);
}

// The mask of the W bytes at offset `at`. Precondition: at + W <= size.
template <class V>
[[gnu::always_inline]] inline typename V::Mask mask_at(const std::uint8_t* data, std::size_t size,
                                                       std::size_t at,
                                                       typename V::Vec splat) noexcept {
    return V::eq(load_at<V>(data, size, at), splat);
}

// Single blocks of 8, 4, 2 and 1 vectors at `at`: the offset of the first
// match within the block, or `kNoMatch`. Precondition: at + N * W <= size.
inline constexpr std::size_t kNoMatch = ~std::size_t{0};

template <class V>
[[gnu::always_inline]] inline std::size_t block_of_8(const std::uint8_t* data, std::size_t size,
                                                     std::size_t at,
                                                     typename V::Vec splat) noexcept {
    using Mask = typename V::Mask;
    constexpr std::size_t W = V::kWidth;
    const Mask m0 = mask_at<V>(data, size, at, splat);
    const Mask m1 = mask_at<V>(data, size, at + W, splat);
    const Mask m2 = mask_at<V>(data, size, at + 2 * W, splat);
    const Mask m3 = mask_at<V>(data, size, at + 3 * W, splat);
    const Mask m4 = mask_at<V>(data, size, at + 4 * W, splat);
    const Mask m5 = mask_at<V>(data, size, at + 5 * W, splat);
    const Mask m6 = mask_at<V>(data, size, at + 6 * W, splat);
    const Mask m7 = mask_at<V>(data, size, at + 7 * W, splat);
    const Mask p0 = V::or_(m0, m1);
    const Mask p1 = V::or_(m2, m3);
    const Mask p2 = V::or_(m4, m5);
    const Mask p3 = V::or_(m6, m7);
    const Mask q0 = V::or_(p0, p1);
    const Mask all = V::or_(q0, V::or_(p2, p3));
    return V::any(all) ? first_of_8<V>(all, q0, p0, p2, m0, m2, m4, m6) : kNoMatch;
}

template <class V>
[[gnu::always_inline]] inline std::size_t block_of_4(const std::uint8_t* data, std::size_t size,
                                                     std::size_t at,
                                                     typename V::Vec splat) noexcept {
    using Mask = typename V::Mask;
    constexpr std::size_t W = V::kWidth;
    const Mask m0 = mask_at<V>(data, size, at, splat);
    const Mask m1 = mask_at<V>(data, size, at + W, splat);
    const Mask m2 = mask_at<V>(data, size, at + 2 * W, splat);
    const Mask m3 = mask_at<V>(data, size, at + 3 * W, splat);
    const Mask p0 = V::or_(m0, m1);
    const Mask all = V::or_(p0, V::or_(m2, m3));
    return V::any(all) ? first_of_4<V>(all, p0, m0, m2) : kNoMatch;
}

template <class V>
[[gnu::always_inline]] inline std::size_t block_of_2(const std::uint8_t* data, std::size_t size,
                                                     std::size_t at,
                                                     typename V::Vec splat) noexcept {
    using Mask = typename V::Mask;
    const Mask m0 = mask_at<V>(data, size, at, splat);
    const Mask all = V::or_(m0, mask_at<V>(data, size, at + V::kWidth, splat));
    return V::any(all) ? first_of_2<V>(all, m0) : kNoMatch;
}

template <class V>
[[gnu::always_inline]] inline std::size_t block_of_1(const std::uint8_t* data, std::size_t size,
                                                     std::size_t at,
                                                     typename V::Vec splat) noexcept {
    const typename V::Mask m0 = mask_at<V>(data, size, at, splat);
    return V::any(m0) ? V::lowest(m0) : kNoMatch;
}

// Whether any byte of the N vectors at `at` equals the needle, for backends
// with byte differences (has_byte_diff): the vectors' differences from the
// needle folded by unsigned minimum, in four independent chains, and one
// mask of the result. Per vector that is one XOR (with its load) and one
// minimum, where the mask tree takes a compare into a mask register and an
// OR of masks, which cost more on AVX-512 on Zen 4 (the real-data cases of
// an absent one-byte needle at 1 KiB; core/TUNING.md). Precondition: N is a
// multiple of 2, and at + N W <= size.
template <class V, std::size_t N>
[[gnu::always_inline]] inline bool any_match_in(const std::uint8_t* data, std::size_t size,
                                                std::size_t at, typename V::Vec splat) noexcept {
    static_assert(N % 2 == 0);
    constexpr std::size_t W = V::kWidth;
    constexpr std::size_t kChains = N < 4 ? N : 4;
    typename V::Vec chain[kChains];
    for (std::size_t r = 0; r < kChains; ++r) {
        chain[r] = V::diff(load_at<V>(data, size, at + r * W), splat);
    }
    for (std::size_t k = kChains; k < N; ++k) {
        chain[k % kChains] =
            V::min_diff(chain[k % kChains], V::diff(load_at<V>(data, size, at + k * W), splat));
    }
    typename V::Vec folded = V::min_diff(chain[0], chain[1]);
    if constexpr (kChains == 4) {
        folded = V::min_diff(folded, V::min_diff(chain[2], chain[3]));
    }
    return V::any(V::zero_lanes(folded));
}

// A block of N = 2, 4 or 8 vectors at `at`: the offset of its first match, or
// kNoMatch. With byte differences the block is tested as any_match_in, and
// only a block with a match computes the masks that locate it.
// Precondition: at + N W <= size.
template <class V, std::size_t N>
[[gnu::always_inline]] inline std::size_t block_of(const std::uint8_t* data, std::size_t size,
                                                   std::size_t at, typename V::Vec splat) noexcept {
    if constexpr (has_byte_diff<V>) {
        if (!any_match_in<V, N>(data, size, at, splat)) [[likely]] {
            return kNoMatch;
        }
    }
    if constexpr (N == 2) {
        return block_of_2<V>(data, size, at, splat);
    } else if constexpr (N == 4) {
        return block_of_4<V>(data, size, at, splat);
    } else {
        static_assert(N == 8);
        return block_of_8<V>(data, size, at, splat);
    }
}

// Backends whose short ranges of 16 to 32 bytes are cheaper as two overlapping
// steps of a 16-byte backend name it ShortSteps (AVX-512, over its masked load).
template <class V>
inline constexpr bool has_short_steps = requires {
    typename V::ShortSteps;
};

// The first match among n positions, N::kWidth <= n <= 2 N::kWidth, from two
// overlapping steps at 0 and at n - W. Where the lane sets are one bit per
// lane in an integer (BitLanes) that holds both, the second step's lanes,
// moved up to the offsets they stand for, join the first's, and the lowest
// lane of the union is the first match (a position in the overlap answers the
// same in both): no branch between the steps. Otherwise first_of_two_steps.
template <class N>
[[gnu::always_inline]] inline SearchResult two_overlapping_steps(const std::uint8_t* data,
                                                                 std::size_t n,
                                                                 std::uint8_t needle) noexcept {
    assert(n >= N::kWidth && n <= 2 * N::kWidth);
    const typename N::Vec splat = N::splat(needle);
    using LaneSet = typename N::LaneSet;
    if constexpr (std::is_integral_v<LaneSet> && 2 * N::kWidth <= 8 * sizeof(LaneSet)) {
        const std::size_t last = n - N::kWidth;
        const LaneSet lanes = static_cast<LaneSet>(
            N::lanes(mask_at<N>(data, n, 0, splat)) |
            static_cast<LaneSet>(N::lanes(mask_at<N>(data, n, last, splat)) << last));
        return N::empty(lanes) ? SearchResult::not_found() : SearchResult::at(N::first(lanes));
    } else {
        return first_of_two_steps<N>(
            n, [&](std::size_t at) { return mask_at<N>(data, n, at, splat); });
    }
}

// A wide variant's range of at most short_positions bytes: one masked load where the backend has
// them (16 to 32 bytes: two 16-byte steps where it names ShortSteps, since the masked load needs a
// lane mask, a full-width splat and the upper register halves cleared on the way out); otherwise
// two overlapping vectors of the next narrower width when n is at least that wide, down the list
// of narrower step types to one whose loads read exactly n bytes (Sse2Exact), or byte by byte
// where the list ends without one.
template <class V, class... Narrower>
[[gnu::always_inline]] inline SearchResult short_one(const std::uint8_t* data, std::size_t n,
                                                     std::uint8_t needle) noexcept {
    assert(n <= short_positions<V>);
    if constexpr (has_short_steps<V>) {
        using S = typename V::ShortSteps;
        if (n >= S::kWidth && n <= 2 * S::kWidth) {
            return two_overlapping_steps<S>(data, n, needle);
        }
    }
    if constexpr (has_masked_load<V>) {
        const typename V::Mask m =
            V::and_(V::eq(load_first_at<V>(data, n, 0, n), V::splat(needle)), V::first_lanes(n));
        return V::any(m) ? SearchResult::at(V::lowest(m)) : SearchResult::not_found();
    } else if constexpr (sizeof...(Narrower) > 0) {
        using N = std::tuple_element_t<0, std::tuple<Narrower...>>;
        if (n >= N::kWidth) {
            return two_overlapping_steps<N>(data, n, needle);
        }
        return short_one<Narrower...>(data, n, needle);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            if (data[i] == needle) {
                return SearchResult::at(i);
            }
        }
        return SearchResult::not_found();
    }
}

// The shortest range find_one searches in aligned blocks after its first
// vector: 8 vectors of 64 bytes, each of which would straddle two cache lines
// unaligned; for narrower vectors, of which only every other one would, the
// length that reaches the 16-vector main loop from any restart offset.
template <class V>
inline constexpr std::size_t aligned_from = V::kWidth >= 64 ? 8 * V::kWidth : 17 * V::kWidth;

template <class V, class... Narrower>
SearchResult find_one(ByteRange haystack, std::uint8_t needle) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    assert(data != nullptr || n == 0);
    // Too short for one vector of this width (or, with masked loads, at most
    // one): before any setup.
    if constexpr (is_wide<V>) {
        if (n <= short_positions<V>) {
            return short_one<V, Narrower...>(data, n, needle);
        }
    }
    const typename V::Vec splat = V::splat(needle);

    std::size_t i = 0;
    // The wide variants test one vector at 0 first, so a match near the start
    // costs one load. A range long enough goes on with aligned blocks
    // (aligned_from): unaligned, every load of a 64-byte vector straddles two
    // cache lines, which a search of 1 KiB at a misaligned address pays for
    // (search_one from Python, core/TUNING.md). A shorter range saves more by
    // not re-examining the bytes before the aligned offset.
    if constexpr (is_wide<V>) {
        if (const std::size_t k = block_of_1<V>(data, n, 0, splat); k != kNoMatch) {
            return SearchResult::at(k);
        }
        i = W;
        if constexpr (V::kAlignLoads) {
            if (n >= aligned_from<V>) {
                i = aligned_restart<V>(data);
            }
        }
        // Then a ramp of 2 and 4 vectors before the blocks of 16 (or the
        // descending blocks of a shorter range), so that a match within the
        // first few hundred bytes costs a few loads rather than a whole
        // 16-vector block and the location of its hit. Blocks stay in address
        // order, so the first block with a hit holds the first match.
        if (n - i >= 6 * W) {
            if (const std::size_t k = block_of_2<V>(data, n, i, splat); k != kNoMatch) {
                return SearchResult::at(i + k);
            }
            if (const std::size_t k = block_of_4<V>(data, n, i + 2 * W, splat); k != kNoMatch) {
                return SearchResult::at(i + 2 * W + k);
            }
            i += 6 * W;
        }
    }
    if constexpr (has_byte_diff<V>) {
        // The same 16-vector blocks, tested as byte differences; the block
        // that holds the first match is then located by its two halves,
        // once per call.
        while (n - i >= 16 * W) {
            if (any_match_in<V, 16>(data, n, i, splat)) [[unlikely]] {
                if (const std::size_t k = block_of_8<V>(data, n, i, splat); k != kNoMatch) {
                    return SearchResult::at(i + k);
                }
                const std::size_t k = block_of_8<V>(data, n, i + 8 * W, splat);
                assert(k != kNoMatch);
                return SearchResult::at(i + 8 * W + k);
            }
            i += 16 * W;
        }
    } else {
        // Unrolled by hand for register pressure: only the first halves outlive the OR tree.
        while (n - i >= 16 * W) {
            using Mask = typename V::Mask;
            const Mask m0 = mask_at<V>(data, n, i, splat);
            const Mask m1 = mask_at<V>(data, n, i + W, splat);
            const Mask m2 = mask_at<V>(data, n, i + 2 * W, splat);
            const Mask m3 = mask_at<V>(data, n, i + 3 * W, splat);
            const Mask m4 = mask_at<V>(data, n, i + 4 * W, splat);
            const Mask m5 = mask_at<V>(data, n, i + 5 * W, splat);
            const Mask m6 = mask_at<V>(data, n, i + 6 * W, splat);
            const Mask m7 = mask_at<V>(data, n, i + 7 * W, splat);
            const Mask m8 = mask_at<V>(data, n, i + 8 * W, splat);
            const Mask m9 = mask_at<V>(data, n, i + 9 * W, splat);
            const Mask m10 = mask_at<V>(data, n, i + 10 * W, splat);
            const Mask m11 = mask_at<V>(data, n, i + 11 * W, splat);
            const Mask m12 = mask_at<V>(data, n, i + 12 * W, splat);
            const Mask m13 = mask_at<V>(data, n, i + 13 * W, splat);
            const Mask m14 = mask_at<V>(data, n, i + 14 * W, splat);
            const Mask m15 = mask_at<V>(data, n, i + 15 * W, splat);
            // Pairs (2 vectors), quarters (4), halves (8), then the whole block.
            const Mask p0 = V::or_(m0, m1);
            const Mask p1 = V::or_(m2, m3);
            const Mask p2 = V::or_(m4, m5);
            const Mask p3 = V::or_(m6, m7);
            const Mask p4 = V::or_(m8, m9);
            const Mask p5 = V::or_(m10, m11);
            const Mask p6 = V::or_(m12, m13);
            const Mask p7 = V::or_(m14, m15);
            const Mask q0 = V::or_(p0, p1);
            const Mask q1 = V::or_(p2, p3);
            const Mask q2 = V::or_(p4, p5);
            const Mask q3 = V::or_(p6, p7);
            const Mask h0 = V::or_(q0, q1);
            const Mask all = V::or_(h0, V::or_(q2, q3));
            if (V::any(all)) [[unlikely]] {
                const std::size_t offset =
                    V::any(h0) ? first_of_8<V>(h0, q0, p0, p2, m0, m2, m4, m6)
                               : 8 * W + first_of_8<V>(all, q2, p4, p6, m8, m10, m12, m14);
                return SearchResult::at(i + offset);
            }
            i += 16 * W;
        }
    }

    // Fewer than 16 W bytes remain: each smaller block is taken at most once.
    if (n - i >= 8 * W) {
        if (const std::size_t k = block_of<V, 8>(data, n, i, splat); k != kNoMatch) {
            return SearchResult::at(i + k);
        }
        i += 8 * W;
    }
    if (n - i >= 4 * W) {
        if (const std::size_t k = block_of<V, 4>(data, n, i, splat); k != kNoMatch) {
            return SearchResult::at(i + k);
        }
        i += 4 * W;
    }
    if (n - i >= 2 * W) {
        if (const std::size_t k = block_of<V, 2>(data, n, i, splat); k != kNoMatch) {
            return SearchResult::at(i + k);
        }
        i += 2 * W;
    }
    if (n - i >= W) {
        if (const std::size_t k = block_of_1<V>(data, n, i, splat); k != kNoMatch) {
            return SearchResult::at(i + k);
        }
        i += W;
    }

    assert(i <= n && n - i < W);
    if constexpr (is_wide<V>) {
        // The last W bytes, n >= W: those before i are known not to match, so
        // the lowest match among them is the first one.
        if (i == n) {
            return SearchResult::not_found();
        }
        const std::size_t k = block_of_1<V>(data, n, n - W, splat);
        return k != kNoMatch ? SearchResult::at(n - W + k) : SearchResult::not_found();
    } else {
        for (; i < n; ++i) {
            if (data[i] == needle) {
                return SearchResult::at(i);
            }
        }
        return SearchResult::not_found();
    }
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
