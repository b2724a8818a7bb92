// 32-byte AVX2 vectors. vpalignr works within each 128-bit half, so
// shifted<K> first forms the vector (high half of a, low half of b) with
// vperm2i128 and aligns each half against it.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#ifndef QARVO_ISA_NAMESPACE
#error "Define QARVO_ISA_NAMESPACE (one name per variant TU) before including the search core"
#endif

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

struct Avx2 {
    static constexpr std::size_t kWidth = 32;
    static constexpr bool kAlignLoads = true;

    using Vec = __m256i;
    using Mask = __m256i;
    // One bit per lane (vpmovmskb), lane k in bit k.
    using LaneSet = std::uint32_t;

    static Vec splat(std::uint8_t b) noexcept { return _mm256_set1_epi8(static_cast<char>(b)); }

    // Precondition: 32 readable bytes at p.
    static Vec load(const std::uint8_t* p) noexcept {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i_u*>(p));
    }

    static Mask eq(Vec x, Vec y) noexcept { return _mm256_cmpeq_epi8(x, y); }
    static Mask and_(Mask a, Mask b) noexcept { return _mm256_and_si256(a, b); }
    static Mask or_(Mask a, Mask b) noexcept { return _mm256_or_si256(a, b); }
    static bool any(Mask m) noexcept { return _mm256_movemask_epi8(m) != 0; }
    static std::size_t lowest(Mask m) noexcept { return first(lanes(m)); }

    static LaneSet lanes(Mask m) noexcept { return static_cast<LaneSet>(_mm256_movemask_epi8(m)); }
    static bool empty(LaneSet s) noexcept { return s == 0; }
    static std::size_t first(LaneSet s) noexcept {
        return static_cast<std::size_t>(__builtin_ctz(s));
    }
    static LaneSet drop_first(LaneSet s) noexcept { return s & (s - 1); }

    template <int K>
    static Vec shifted(Vec a, Vec b) noexcept {
        static_assert(K > 0 && K < 16);
        const __m256i middle = _mm256_permute2x128_si256(a, b, 0x21);
        return _mm256_alignr_epi8(middle, a, K);
    }
};

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
