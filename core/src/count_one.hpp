// count_one: the number of offsets p with haystack[p] == needle.
//
// Every byte is compared once and nothing branches on a match. Backends with
// byte tallies (has_tally: SSE2, AVX2, Advanced SIMD) subtract each compare
// mask (a set lane is all ones) from a vector of byte counters, four vectors
// per step into four counters, and add the counters' lanes up before any can
// wrap, after at most 255 steps; the others count the set lanes of each mask
// (count). With W-byte vectors:
//   main loop, while 4W bytes remain; then one vector per step while W remain;
//   the fewer than W bytes left: where a lane set is one bit per lane in an
//     integer (BitLanes), one vector over the last W bytes with the lanes
//     already counted shifted out; else a load of exactly those bytes
//     (has_masked_load), the next narrower step type's count, or byte by byte.
// A wide variant (is_wide) counts the bytes before its first W-aligned offset
// first, from one vector at 0 with the lanes from that offset on masked off,
// so that no load of its main loop straddles two cache lines; a range shorter
// than W takes a masked load (AVX-512) or the narrower step types (AVX2).
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "qarvo/search.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// Backends that count matches into byte counters provide kTally,
// tally(t, m) and tally_sum(t) (see vector_sse2.hpp).
template <class V>
inline constexpr bool has_tally = requires {
    V::kTally;
};

// Steps of four vectors that one set of byte counters takes before its lanes
// are added up: each lane gains at most one per step, and wraps at 256.
inline constexpr std::size_t kTallySteps = 255;

// The number of set lanes of a compare mask.
template <class V>
[[gnu::always_inline]] inline std::size_t lanes_set(typename V::Mask m) noexcept {
    return V::count(V::lanes(m));
}

template <class V, class... Narrower>
std::size_t count_one(ByteRange haystack, std::uint8_t needle) noexcept {
    using Mask = typename V::Mask;
    using Vec = typename V::Vec;
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    assert(data != nullptr || n == 0);
    if constexpr (is_wide<V>) {
        if (n < W) {
            if constexpr (has_masked_load<V>) {
                return lanes_set<V>(V::and_(
                    V::eq(load_first_at<V>(data, n, 0, n), V::splat(needle)), V::first_lanes(n)));
            } else {
                static_assert(sizeof...(Narrower) > 0);
                return count_one<Narrower...>(haystack, needle);
            }
        }
    }
    const Vec splat = V::splat(needle);
    std::size_t total = 0;
    std::size_t i = 0;
    if constexpr (is_wide<V> && V::kAlignLoads && has_bit_lanes<V>) {
        // Bytes 0 .. i - 1, from the vector at 0 with its lanes from i on
        // cleared: i is the first offset whose address is W-aligned.
        if (n >= 8 * W) {
            i = (W - reinterpret_cast<std::uintptr_t>(data) % W) % W;
            if (i != 0) {
                using LaneSet = typename V::LaneSet;
                const LaneSet below = static_cast<LaneSet>((LaneSet{1} << i) - 1);
                total += V::count(
                    static_cast<LaneSet>(V::lanes(V::eq(load_at<V>(data, n, 0), splat)) & below));
            }
        }
    }
    if constexpr (has_tally<V>) {
        while (n - i >= 4 * W) {
            const std::size_t steps_left = (n - i) / (4 * W);
            const std::size_t steps = steps_left < kTallySteps ? steps_left : kTallySteps;
            Vec t0 = V::splat(0);
            Vec t1 = t0;
            Vec t2 = t0;
            Vec t3 = t0;
            for (std::size_t s = 0; s < steps; ++s) {
                prefetch_ahead(data, n, i);
                t0 = V::tally(t0, V::eq(load_at<V>(data, n, i), splat));
                t1 = V::tally(t1, V::eq(load_at<V>(data, n, i + W), splat));
                t2 = V::tally(t2, V::eq(load_at<V>(data, n, i + 2 * W), splat));
                t3 = V::tally(t3, V::eq(load_at<V>(data, n, i + 3 * W), splat));
                i += 4 * W;
            }
            total += V::tally_sum(t0) + V::tally_sum(t1) + V::tally_sum(t2) + V::tally_sum(t3);
        }
    } else {
        while (n - i >= 4 * W) {
            prefetch_ahead(data, n, i);
            const Mask m0 = V::eq(load_at<V>(data, n, i), splat);
            const Mask m1 = V::eq(load_at<V>(data, n, i + W), splat);
            const Mask m2 = V::eq(load_at<V>(data, n, i + 2 * W), splat);
            const Mask m3 = V::eq(load_at<V>(data, n, i + 3 * W), splat);
            total += lanes_set<V>(m0) + lanes_set<V>(m1) + lanes_set<V>(m2) + lanes_set<V>(m3);
            i += 4 * W;
        }
    }
    while (n - i >= W) {
        total += lanes_set<V>(V::eq(load_at<V>(data, n, i), splat));
        i += W;
    }

    assert(i <= n && n - i < W);
    const std::size_t left = n - i;
    if (left == 0) {
        return total;
    }
    if constexpr (has_bit_lanes<V>) {
        if (n >= W) {
            // The last W bytes, of which the lowest W - left are counted.
            const auto lanes = V::lanes(V::eq(load_at<V>(data, n, n - W), splat));
            return total + V::count(static_cast<decltype(lanes)>(lanes >> (W - left)));
        }
    }
    if constexpr (has_masked_load<V>) {
        return total + lanes_set<V>(V::and_(V::eq(load_first_at<V>(data, n, i, left), splat),
                                            V::first_lanes(left)));
    } else if constexpr (sizeof...(Narrower) > 0) {
        return total + count_one<Narrower...>(ByteRange{data + i, left}, needle);
    } else {
        for (; i < n; ++i) {
            total += static_cast<std::size_t>(data[i] == needle);
        }
        return total;
    }
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
