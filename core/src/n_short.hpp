// The wide variants' search of a haystack that leaves at most one vector
// step of windows (find_in_few_windows, called by find_n before any per-call
// setup of the filtered search): one masked load per anchor where the
// backend has them, otherwise two overlapping steps of a width that fits,
// or the windows one by one.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "n_filter_choice.hpp"
#include "n_steps.hpp"
#include "n_verify.hpp"
#include "qarvo/search.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The candidates `lanes` (block offset `base`) of a short haystack compared
// in full, lowest first. Out of line, so that a search that finds no
// candidate never sets up the frame that verification (and its Two-Way
// fallback) needs. The candidates come as a lane set, not as the vector
// mask: GCC did not clear the upper halves of the vector registers on the
// way out of a function that received one, and the interpreter's next SSE
// instruction waited on them (tests/core/upper_state_test.cpp).
// Precondition: as verify.
template <class V>
[[gnu::noinline]] SearchResult verify_short(const std::uint8_t* data, std::size_t n,
                                            ByteRange needle, typename V::LaneSet lanes,
                                            std::size_t base) noexcept {
    VerifyBudget budget{needle.size};
    SearchResult result = SearchResult::not_found();
    verify_lanes<V>(data, n, needle, lanes, base, budget, result);
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
        if (const SearchResult r = verify_short<N>(data, n, needle, N::lanes(c), 0); r.found()) {
            return r;
        }
    }
    const std::size_t last = windows - N::kWidth;
    const auto c = candidates<N>(data, n, last, filter);
    return N::any(c) ? verify_short<N>(data, n, needle, N::lanes(c), last)
                     : SearchResult::not_found();
}

// Below this many windows, find_in_few_windows compares window by window where it
// has no masked loads.
inline constexpr std::size_t kOneByOneBelow = 4;

// The most windows a wide variant's short path takes: a whole vector with
// masked loads, since one load covers it; otherwise up to two overlapping
// vector steps, short of two whole vectors.
template <class V>
inline constexpr std::size_t few_windows = has_masked_load<V> ? V::kWidth : 2 * V::kWidth - 1;

// A wide variant's haystack of at most few_windows windows (n - m + 1 of
// them): the filter on the first, second and last bytes, then each
// candidate compared in full; no check anchor, whose choice would cost more
// than it saves here. One masked load per anchor where the backend has them;
// otherwise two overlapping steps of this width, or of the next narrower one
// when there are at least that many windows, down the list of narrower step
// types to one with masked (or exact) loads, or window by window where the
// list ends without one.
// Precondition: 4 <= m <= n.
template <class V, class... Narrower>
[[gnu::always_inline]] inline SearchResult find_in_few_windows(const std::uint8_t* data,
                                                               std::size_t n,
                                                               ByteRange needle) noexcept {
    const std::size_t m = needle.size;
    assert(m >= 4 && m <= n && n - m < few_windows<V>);
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
        return verify_short<V>(data, n, needle, V::lanes(c), 0);
    } else {
        if (windows >= V::kWidth) {
            return two_steps_short<V>(data, n, needle, windows);
        }
        // A few windows are compared one by one: most fail on their first
        // or last byte, sooner than narrower vectors for them are built.
        if (windows < kOneByOneBelow) {
            return scan_windows(data, n, 0, needle);
        }
        if constexpr (sizeof...(Narrower) > 0) {
            return find_in_few_windows<Narrower...>(data, n, needle);
        } else {
            return scan_windows(data, n, 0, needle);
        }
    }
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
