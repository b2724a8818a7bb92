// find_one: the first offset p with haystack[p] == needle.
//
// Blocks are counted from the start of the range, whatever its alignment.
// With W-byte vectors: a main loop over blocks of 16 vectors (256 bytes at
// W = 16), then at most one block each of 8, 4, 2 and 1 vectors, then the
// fewer than W bytes that remain. For W = 16 that remainder is scanned byte by
// byte; a wider variant hands it to the next narrower one (AVX-512 -> AVX2 ->
// SSE2), so a short input costs what it costs there.
//
// A block's masks are ORed pairwise into a tree. The root decides whether the
// block holds a match; only the block holding the first match is then
// descended, by halves, through ORs that are already computed.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "qarvo/search.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The masks of N consecutive vectors (N a power of two): `all` is the OR of
// the whole block, `low` and `high` the trees of its two halves.
template <class V, std::size_t N>
struct MaskTree {
    MaskTree<V, N / 2> low;
    MaskTree<V, N / 2> high;
    typename V::Mask all;
};

template <class V>
struct MaskTree<V, 1> {
    typename V::Mask all;
};

// Compares the N * W bytes at offset `at` with `splat`.
// Precondition: at + N * W <= size.
template <class V, std::size_t N>
[[gnu::always_inline]] inline MaskTree<V, N> compare_block(const std::uint8_t* data,
                                                           std::size_t size, std::size_t at,
                                                           typename V::Vec splat) noexcept {
    if constexpr (N == 1) {
        return {V::eq(load_at<V>(data, size, at), splat)};
    } else {
        const MaskTree<V, N / 2> low = compare_block<V, N / 2>(data, size, at, splat);
        const MaskTree<V, N / 2> high =
            compare_block<V, N / 2>(data, size, at + N / 2 * V::kWidth, splat);
        return {low, high, V::or_(low.all, high.all)};
    }
}

// Offset, within its block, of the first set lane: the first half that has a
// lane set, down to one vector, then its lowest lane.
// Precondition: V::any(tree.all).
template <class V, std::size_t N>
[[gnu::always_inline]] inline std::size_t locate(const MaskTree<V, N>& tree) noexcept {
    assert(V::any(tree.all));
    if constexpr (N == 1) {
        return V::lowest(tree.all);
    } else if (V::any(tree.low.all)) {
        return locate<V, N / 2>(tree.low);
    } else {
        return N / 2 * V::kWidth + locate<V, N / 2>(tree.high);
    }
}

// One single block of N vectors at the cursor, taken if N * W bytes remain.
// Returns true with `result` set if it holds a match; otherwise moves the
// cursor past it (when it was taken) and returns false.
template <class V, std::size_t N>
[[gnu::always_inline]] inline bool single_block(const std::uint8_t* data, std::size_t size,
                                                std::size_t& cursor, typename V::Vec splat,
                                                SearchResult& result) noexcept {
    if (size - cursor < N * V::kWidth) {
        return false;
    }
    const MaskTree<V, N> tree = compare_block<V, N>(data, size, cursor, splat);
    if (V::any(tree.all)) {
        result = SearchResult::at(cursor + locate<V, N>(tree));
        return true;
    }
    cursor += N * V::kWidth;
    return false;
}

template <class V, class... Narrower>
SearchResult find_one(ByteRange haystack, std::uint8_t needle) noexcept {
    constexpr std::size_t W = V::kWidth;
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    assert(data != nullptr || n == 0);
    const typename V::Vec splat = V::splat(needle);

    std::size_t i = 0;
    while (n - i >= 16 * W) {
        const MaskTree<V, 16> block = compare_block<V, 16>(data, n, i, splat);
        if (V::any(block.all)) [[unlikely]] {
            return SearchResult::at(i + locate<V, 16>(block));
        }
        i += 16 * W;
    }

    // Fewer than 16 W bytes remain: each smaller block is taken at most once.
    SearchResult result = SearchResult::not_found();
    if (single_block<V, 8>(data, n, i, splat, result) ||
        single_block<V, 4>(data, n, i, splat, result) ||
        single_block<V, 2>(data, n, i, splat, result) ||
        single_block<V, 1>(data, n, i, splat, result)) {
        return result;
    }

    assert(i <= n && n - i < W);
    if constexpr (sizeof...(Narrower) == 0) {
        for (; i < n; ++i) {
            if (data[i] == needle) {
                return SearchResult::at(i);
            }
        }
        return SearchResult::not_found();
    } else {
        return shift_result(find_one<Narrower...>(ByteRange{data + i, n - i}, needle), i);
    }
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
