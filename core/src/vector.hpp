// The vector types the search algorithms are written against: the backends
// this TU's target provides, each checked against the Vector concept
// (vector_contract.hpp, which lists the operations), and the helpers the
// algorithms build on them.
//
// ODR: a variant compiled with -mavx2 or -mavx512bw must never lend one of
// its inline functions to a translation unit meant for a baseline CPU, which
// is what the linker does when two TUs emit the same COMDAT symbol. Every
// header of the search core therefore opens an inline namespace whose name the
// including TU chooses (QARVO_ISA_NAMESPACE), so each variant's functions have
// symbols of their own.
#pragma once

#ifndef QARVO_ISA_NAMESPACE
#error "Define QARVO_ISA_NAMESPACE (one name per variant TU) before including the search core"
#endif

// Backends available to the including TU. The scalar emulation builds
// everywhere; the others only where the TU's target flags provide them.
#include "vector_scalar.hpp"
#if defined(__x86_64__) && defined(__SSE2__)
#include "vector_sse2.hpp"
#endif
#if defined(__x86_64__) && defined(__AVX2__)
#include "vector_avx2.hpp"
#endif
#if defined(__x86_64__) && defined(__AVX512BW__)
#include "vector_avx512.hpp"
#endif
#if defined(__aarch64__)
#include "vector_neon.hpp"
#endif

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "qarvo/search.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The W bytes at offset `at` of a range of `size` bytes. Every load of the
// algorithms goes through here, so debug builds check that it stays inside
// the range: at + W <= size.
template <class V>
inline typename V::Vec load_at(const std::uint8_t* data, std::size_t size,
                               std::size_t at) noexcept {
    assert(at <= size && V::kWidth <= size - at);
    (void)size;
    return V::load(data + at);
}

// Scans of at least kPrefetchFrom bytes ask for the line kPrefetchAhead bytes
// ahead of each step of four vectors (prefetch_ahead, prefetch_behind). Out of
// the caches the hardware's own prefetch alone left the loops that do more
// than one operation per vector (find_n's filtered steps, the byte-set loops,
// count_one's tally) well below a plain read; one request per step brings
// them to it (the core benchmark's no_match/m=4/qarvo/n=67108864 and
// set/k=2/qarvo.find_any/n=67108864). Below kPrefetchFrom the range sits in
// the caches when it is searched again, and a request costs a load slot.
inline constexpr std::size_t kPrefetchAhead = 4096;
inline constexpr std::size_t kPrefetchFrom = std::size_t{256} << 10;

// Asks for the cache line kPrefetchAhead bytes past data + at when the range
// is n >= kPrefetchFrom bytes long. A prefetch never faults, and the address
// is formed as an integer, so it may lie past the range.
[[gnu::always_inline]] inline void prefetch_ahead(const std::uint8_t* data, std::size_t n,
                                                  std::size_t at) noexcept {
    if (n >= kPrefetchFrom) {
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(data) +
                                                         at + kPrefetchAhead));
    }
}

// The same for a scan walking down: the line kPrefetchAhead bytes before
// data + at. Only the range's length is tested, which the compiler moves out
// of the loop; a test of `at` inside it slowed the reverse loops of 4 KiB
// (rfind_no_match/m=4/qarvo/n=4096).
[[gnu::always_inline]] inline void prefetch_behind(const std::uint8_t* data, std::size_t n,
                                                   std::size_t at) noexcept {
    if (n >= kPrefetchFrom) {
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(data) +
                                                         at - kPrefetchAhead));
    }
}

// Where a long search goes on after a first, unaligned vector step at offset
// 0 (which covered offsets 0 .. W - 1): the lowest offset in 1 .. W whose
// address is a multiple of W. From there on every load of the main loops is
// aligned, so none straddles two cache lines; off by 32, every 64-byte load
// does, and find_one reads 1 MiB far slower (core/TUNING.md). The up to
// W - 1 offsets examined twice are known not to match, so the first match
// is still the lowest. Only for backends with kAlignLoads: the 16-byte ones
// keep counting their blocks from the start of the range.
template <class V>
inline std::size_t aligned_restart(const std::uint8_t* data) noexcept {
    static_assert(V::kAlignLoads);
    return V::kWidth - reinterpret_cast<std::uintptr_t>(data) % V::kWidth;
}

// Backends that can test bytes as differences (AVX-512: kByteDiff) provide
// diff(x, a), zero in the lanes where x == a; pair_diff(x, a, y, b), zero
// in the lanes where x == a and y == b;
// min_diff(d, e), zero where d or e is; and zero_lanes(d), the mask of the
// zero lanes. A block of vectors then costs one mask, not one per vector.
template <class V>
inline constexpr bool has_byte_diff = requires {
    V::kByteDiff;
};

// Zero in the lanes where x == a, y == b and z == c: two pair_diffs, the
// second folding the first in as its other pair (against zero). For
// has_byte_diff backends only.
template <class V>
[[gnu::always_inline]] inline typename V::Vec triple_diff(typename V::Vec x, typename V::Vec a,
                                                          typename V::Vec y, typename V::Vec b,
                                                          typename V::Vec z,
                                                          typename V::Vec c) noexcept {
    return V::pair_diff(z, c, V::pair_diff(x, a, y, b), V::splat(0));
}

// Whether any lane of four masks is set, the way the backend does it best:
// its own any_of_four where it has one, else any of the three ORs.
template <class V>
[[gnu::always_inline]] inline bool any_of_four(typename V::Mask a, typename V::Mask b,
                                               typename V::Mask c, typename V::Mask d) noexcept {
    if constexpr (requires { V::any_of_four(a, b, c, d); }) {
        return V::any_of_four(a, b, c, d);
    } else {
        return V::any(V::or_(V::or_(a, b), V::or_(c, d)));
    }
}

// The wide backends (wider than 16 bytes) finish a range with vector steps
// that overlap the last one, and take ranges too short for one step through
// a short path; the 16-byte ones keep their narrowing blocks down to a
// byte-by-byte tail.
template <class V>
inline constexpr bool is_wide = V::kWidth > 16;

// Backends whose loads can leave out lanes without reading their bytes
// (AVX-512's masked loads) provide first_lanes(count), the mask of lanes
// 0 .. count - 1, and load_first(p, count), the first count bytes at p with
// the other lanes zero; count <= W.
template <class V>
inline constexpr bool has_masked_load = requires {
    V::kMaskedLoad;
};

// The most positions a wide variant's short path takes: up to a whole vector
// with masked loads, since one load covers it; fewer than a vector otherwise.
template <class V>
inline constexpr std::size_t short_positions = has_masked_load<V> ? V::kWidth : V::kWidth - 1;

// The `count` bytes at offset `at` as the first lanes of a vector, the other
// lanes zero. Precondition: at + count <= size, count <= W.
template <class V>
[[gnu::always_inline]] inline typename V::Vec load_first_at(const std::uint8_t* data,
                                                            std::size_t size, std::size_t at,
                                                            std::size_t count) noexcept {
    assert(at <= size && count <= size - at && count <= V::kWidth);
    (void)size;
    return V::load_first(data + at, count);
}

// The first match among `positions` positions (W <= positions < 2W for the
// vector type V) found with two overlapping steps, at 0 and at positions - W;
// `mask_at(offset)` gives the step's lanes that match. A position in the
// overlap is tested twice and answers the same both times, so the lowest lane
// of the first step with any is the first match.
template <class V, class MaskAt>
[[gnu::always_inline]] inline SearchResult first_of_two_steps(std::size_t positions,
                                                              MaskAt mask_at) noexcept {
    assert(positions >= V::kWidth);
    if (const auto m = mask_at(std::size_t{0}); V::any(m)) {
        return SearchResult::at(V::lowest(m));
    }
    const std::size_t last = positions - V::kWidth;
    const auto m = mask_at(last);
    return V::any(m) ? SearchResult::at(last + V::lowest(m)) : SearchResult::not_found();
}

// Backends on which a byte shift across the whole vector costs more than one
// more load set kShiftByLoad: the searches then load the bytes at an offset
// again instead of shifting them out of two loaded vectors (bytes_after).
template <class V>
inline constexpr bool has_shift_by_load = requires {
    V::kShiftByLoad;
};

// The W bytes at offset at + K, given `v` and `next`, the vectors loaded at
// `at` and at + W: shifted<K>(v, next), or reloaded where the backend prefers
// that (has_shift_by_load). Precondition: at + 2W <= size.
template <class V, int K>
[[gnu::always_inline]] inline typename V::Vec bytes_after(const std::uint8_t* data,
                                                          std::size_t size, std::size_t at,
                                                          typename V::Vec v,
                                                          typename V::Vec next) noexcept {
    static_assert(K > 0 && static_cast<std::size_t>(K) < V::kWidth);
    if constexpr (has_shift_by_load<V>) {
        return load_at<V>(data, size, at + K);
    } else {
        static_assert(K < 16, "every backend's shifted<K> takes 0 < K < 16");
        return V::template shifted<K>(v, next);
    }
}

// The first set lane of four masks covering 4 W consecutive positions, found
// by halves (the first pair's OR, then the mask within the pair). Returns
// false, leaving `offset` alone, when no lane is set.
template <class V>
[[gnu::always_inline]] inline bool first_of_four(typename V::Mask m0, typename V::Mask m1,
                                                 typename V::Mask m2, typename V::Mask m3,
                                                 std::size_t& offset) noexcept {
    constexpr std::size_t W = V::kWidth;
    const typename V::Mask low = V::or_(m0, m1);
    const typename V::Mask high = V::or_(m2, m3);
    if (!V::any(V::or_(low, high))) {
        return false;
    }
    if (V::any(low)) {
        offset = V::any(m0) ? V::lowest(m0) : W + V::lowest(m1);
    } else {
        offset = V::any(m2) ? 2 * W + V::lowest(m2) : 3 * W + V::lowest(m3);
    }
    return true;
}

// Whether the backend's lane sets are integers with one bit per lane
// (BitLanes), which shifts and masks select lanes of directly.
template <class V>
inline constexpr bool has_bit_lanes = std::is_integral_v<typename V::LaneSet>;

// The highest set lane of four masks covering 4 W consecutive positions, found
// by halves from the top. Returns false, leaving `offset` alone, when no lane
// is set.
template <class V>
[[gnu::always_inline]] inline bool last_of_four(typename V::Mask m0, typename V::Mask m1,
                                                typename V::Mask m2, typename V::Mask m3,
                                                std::size_t& offset) noexcept {
    constexpr std::size_t W = V::kWidth;
    const typename V::Mask low = V::or_(m0, m1);
    const typename V::Mask high = V::or_(m2, m3);
    if (!V::any(V::or_(low, high))) {
        return false;
    }
    if (V::any(high)) {
        offset = V::any(m3) ? 3 * W + V::highest(m3) : 2 * W + V::highest(m2);
    } else {
        offset = V::any(m1) ? W + V::highest(m1) : V::highest(m0);
    }
    return true;
}

// Offset `base` added to a result found in a sub-range that starts there.
inline SearchResult shift_result(SearchResult r, std::size_t base) noexcept {
    return r.found() ? SearchResult::at(base + r.offset()) : r;
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
