// rfind_one: the last offset p with haystack[p] == needle; and the walk from
// the end that rfind_two and rfind_three (reverse_two.hpp) share with it.
//
// The mirror of find_one (one.hpp), over the same Vector operations. A short
// needle of K = 1 to 3 bytes matches at position p when haystack[p + k] equals
// its byte k for every k: one compare per byte and vector, ANDed. Positions
// are tested in blocks from the end down, and the highest lane of the first
// block (from the end) with a match wins, so the result is the last
// occurrence. With W-byte vectors:
//   main loop, while 4W positions remain below the cursor: four vectors, one
//     test of their masks ORed together; a hit is located from the highest
//     vector down;
//   one vector per step while W positions remain;
//   the fewer than W positions left: for W = 16 tested one by one, from the
//     highest down; a wider variant (is_wide) takes one more step over the
//     first W positions, overlapping ones known not to match.
// A wide variant starts with one step over the last W positions; when the
// range is long enough for the main loop, rfind_one goes on from the highest
// offset below them whose loads are W-aligned (as find_one's aligned_restart,
// counted from the end), so that no load of the main loop straddles two cache
// lines. A wide variant's range too short for one step takes the short path
// before any setup, as the forward routines do: a masked load on AVX-512 (two
// overlapping 16-byte steps from 16 to 32 positions), overlapping 16-byte steps
// or one step of exact loads on AVX2.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "one.hpp"
#include "qarvo/search.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The K bytes of a short needle, each splat into a vector of the type T. A
// plain array, not std::array (see NeedleBytes in sieve.hpp).
template <class T, std::size_t K>
struct ShortNeedle {
    typename T::Vec byte[K];
    std::uint8_t value[K];

    static ShortNeedle of(const std::uint8_t (&bytes)[K]) noexcept {
        ShortNeedle needle;
        for (std::size_t k = 0; k < K; ++k) {
            needle.byte[k] = T::splat(bytes[k]);
            needle.value[k] = bytes[k];
        }
        return needle;
    }
};

// Lane j set when position b + j matches: the needle's byte k compared with
// the vector loaded at b + k. Reads bytes b .. b + W + K - 2.
// Precondition: b + W + K - 1 <= n.
template <class T, std::size_t K>
[[gnu::always_inline]] inline typename T::Mask short_needle_mask(
    const std::uint8_t* data, std::size_t n, std::size_t b,
    const ShortNeedle<T, K>& needle) noexcept {
    typename T::Mask m = T::eq(load_at<T>(data, n, b), needle.byte[0]);
    for (std::size_t k = 1; k < K; ++k) {
        m = T::and_(m, T::eq(load_at<T>(data, n, b + k), needle.byte[k]));
    }
    return m;
}

// The same for the `count` positions b .. b + count - 1 only, with loads that
// leave the other lanes out (has_masked_load). Precondition: count <= W and
// b + count + K - 1 <= n.
template <class T, std::size_t K>
[[gnu::always_inline]] inline typename T::Mask short_needle_mask_first(
    const std::uint8_t* data, std::size_t n, std::size_t b, std::size_t count,
    const ShortNeedle<T, K>& needle) noexcept {
    typename T::Mask m = T::eq(load_first_at<T>(data, n, b, count), needle.byte[0]);
    for (std::size_t k = 1; k < K; ++k) {
        m = T::and_(m, T::eq(load_first_at<T>(data, n, b + k, count), needle.byte[k]));
    }
    return T::and_(m, T::first_lanes(count));
}

// Whether position p matches, byte by byte. Precondition: p + K <= n.
template <std::size_t K>
[[gnu::always_inline]] inline bool short_needle_at(const std::uint8_t* data, std::size_t p,
                                                   const std::uint8_t (&bytes)[K]) noexcept {
    for (std::size_t k = 0; k < K; ++k) {
        if (data[p + k] != bytes[k]) {
            return false;
        }
    }
    return true;
}

// The last match among `positions` positions (W <= positions <= 2W for the
// vector type T) from two overlapping steps, at positions - W and at 0: a
// position in the overlap answers the same in both, so the highest lane of
// the upper step with any, else of the lower one, is the last match.
template <class T, class MaskAt>
[[gnu::always_inline]] inline SearchResult last_of_two_steps(std::size_t positions,
                                                             MaskAt mask_at) noexcept {
    assert(positions >= T::kWidth);
    const std::size_t upper = positions - T::kWidth;
    if (const auto m = mask_at(upper); T::any(m)) {
        return SearchResult::at(upper + T::highest(m));
    }
    const auto m = mask_at(std::size_t{0});
    return T::any(m) ? SearchResult::at(T::highest(m)) : SearchResult::not_found();
}

// A wide variant's range of at most short_positions<V> positions (n - K + 1 of
// them), as the forward short paths: one masked load per needle byte where the
// backend has them (16 to 32 positions: two steps of ShortSteps); otherwise two
// overlapping steps of the next narrower width, down the list to one with
// exact loads, or position by position from the highest where the list ends
// without one.
template <std::size_t K, class V, class... Narrower>
[[gnu::always_inline]] inline SearchResult short_last(const std::uint8_t* data, std::size_t n,
                                                      const std::uint8_t (&bytes)[K]) noexcept {
    if (n < K) {
        return SearchResult::not_found();
    }
    const std::size_t positions = n - K + 1;
    if constexpr (has_short_steps<V>) {
        using S = typename V::ShortSteps;
        if (positions >= S::kWidth && positions <= 2 * S::kWidth) {
            const ShortNeedle<S, K> needle = ShortNeedle<S, K>::of(bytes);
            return last_of_two_steps<S>(positions, [&](std::size_t b) {
                return short_needle_mask<S, K>(data, n, b, needle);
            });
        }
    }
    if constexpr (has_masked_load<V>) {
        assert(positions <= V::kWidth);
        const typename V::Mask m =
            short_needle_mask_first<V, K>(data, n, 0, positions, ShortNeedle<V, K>::of(bytes));
        return V::any(m) ? SearchResult::at(V::highest(m)) : SearchResult::not_found();
    } else if constexpr (sizeof...(Narrower) > 0) {
        using N = std::tuple_element_t<0, std::tuple<Narrower...>>;
        if (positions >= N::kWidth) {
            const ShortNeedle<N, K> needle = ShortNeedle<N, K>::of(bytes);
            return last_of_two_steps<N>(positions, [&](std::size_t b) {
                return short_needle_mask<N, K>(data, n, b, needle);
            });
        }
        return short_last<K, Narrower...>(data, n, bytes);
    } else {
        for (std::size_t p = positions; p-- > 0;) {
            if (short_needle_at<K>(data, p, bytes)) {
                return SearchResult::at(p);
            }
        }
        return SearchResult::not_found();
    }
}

// The shortest range rfind_one aligns its main loop's loads in, as find_one's
// aligned_from.
template <class V>
inline constexpr std::size_t aligned_from_end = V::kWidth >= 64 ? 8 * V::kWidth : 17 * V::kWidth;

// The last position p < `end` (positions at and above `end` are known not to
// match) with the needle of K bytes there, in blocks from the top down.
// Returns the match, or not found with `end` lowered below W.
// Precondition: end + K - 1 <= n.
template <class V, std::size_t K>
[[gnu::always_inline]] inline SearchResult last_in_blocks(
    const std::uint8_t* data, std::size_t n, std::size_t& end,
    const ShortNeedle<V, K>& needle) noexcept {
    using Mask = typename V::Mask;
    constexpr std::size_t W = V::kWidth;
    // Positions end - 4W .. end - 1; reads bytes up to end + K - 2.
    while (end >= 4 * W) {
        const std::size_t b = end - 4 * W;
        const Mask m0 = short_needle_mask<V, K>(data, n, b, needle);
        const Mask m1 = short_needle_mask<V, K>(data, n, b + W, needle);
        const Mask m2 = short_needle_mask<V, K>(data, n, b + 2 * W, needle);
        const Mask m3 = short_needle_mask<V, K>(data, n, b + 3 * W, needle);
        if (std::size_t offset; last_of_four<V>(m0, m1, m2, m3, offset)) [[unlikely]] {
            return SearchResult::at(b + offset);
        }
        end = b;
    }
    while (end >= W) {
        const std::size_t b = end - W;
        if (const Mask m = short_needle_mask<V, K>(data, n, b, needle); V::any(m)) {
            return SearchResult::at(b + V::highest(m));
        }
        end = b;
    }
    return SearchResult::not_found();
}

// The last position of a needle of K = 1 to 3 bytes (see the top of this file).
template <std::size_t K, class V, class... Narrower>
[[gnu::always_inline]] inline SearchResult rfind_short_needle(
    ByteRange haystack, const std::uint8_t (&bytes)[K]) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    assert(data != nullptr || n == 0);
    if constexpr (is_wide<V>) {
        if (n < K || n - (K - 1) <= short_positions<V>) {
            return short_last<K, V, Narrower...>(data, n, bytes);
        }
    } else {
        if (n < K) {
            return SearchResult::not_found();
        }
    }
    const std::size_t positions = n - (K - 1);
    const ShortNeedle<V, K> needle = ShortNeedle<V, K>::of(bytes);
    std::size_t end = positions;
    if constexpr (is_wide<V>) {
        // The last W positions first: a match near the end costs one step.
        const std::size_t upper = positions - W;
        if (const typename V::Mask m = short_needle_mask<V, K>(data, n, upper, needle); V::any(m)) {
            return SearchResult::at(upper + V::highest(m));
        }
        end = upper;
        if constexpr (V::kAlignLoads) {
            // The lowest offset at or above `upper` whose loads are aligned:
            // the positions between it and the end are known not to match.
            if (positions >= aligned_from_end<V>) {
                const std::size_t misalignment =
                    reinterpret_cast<std::uintptr_t>(data + upper) % V::kWidth;
                end = misalignment == 0 ? upper : upper + (W - misalignment);
            }
        }
    }
    if (const SearchResult r = last_in_blocks<V, K>(data, n, end, needle); r.found()) {
        return r;
    }
    assert(end < W);
    if (end == 0) {
        return SearchResult::not_found();
    }
    if constexpr (is_wide<V>) {
        // The first W positions, positions >= W: those at and above `end` are
        // known not to match, so the highest match among them is the last.
        const typename V::Mask m = short_needle_mask<V, K>(data, n, 0, needle);
        return V::any(m) ? SearchResult::at(V::highest(m)) : SearchResult::not_found();
    } else {
        for (std::size_t p = end; p-- > 0;) {
            if (short_needle_at<K>(data, p, bytes)) {
                return SearchResult::at(p);
            }
        }
        return SearchResult::not_found();
    }
}

template <class V, class... Narrower>
SearchResult rfind_one(ByteRange haystack, std::uint8_t needle) noexcept {
    const std::uint8_t bytes[1] = {needle};
    return rfind_short_needle<1, V, Narrower...>(haystack, bytes);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
