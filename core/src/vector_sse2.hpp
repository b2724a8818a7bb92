// The x86-64 baseline: 16-byte SSE2 vectors. SSE2 has no byte alignment
// across two registers (palignr is SSSE3), so shifted<K> is built from two
// whole-register byte shifts and an OR.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#ifndef QARVO_ISA_NAMESPACE
#error "Define QARVO_ISA_NAMESPACE (one name per variant TU) before including the search core"
#endif

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

struct Sse2 {
    static constexpr std::size_t kWidth = 16;
    static constexpr bool kAlignLoads = false;

    using Vec = __m128i;
    using Mask = __m128i;
    // One bit per lane (pmovmskb), lane k in bit k.
    using LaneSet = std::uint32_t;

    static Vec splat(std::uint8_t b) noexcept { return _mm_set1_epi8(static_cast<char>(b)); }

    // Precondition: 16 readable bytes at p.
    static Vec load(const std::uint8_t* p) noexcept {
        return _mm_loadu_si128(reinterpret_cast<const __m128i_u*>(p));
    }

    static Mask eq(Vec x, Vec y) noexcept { return _mm_cmpeq_epi8(x, y); }
    static Mask and_(Mask a, Mask b) noexcept { return _mm_and_si128(a, b); }
    static Mask or_(Mask a, Mask b) noexcept { return _mm_or_si128(a, b); }
    static bool any(Mask m) noexcept { return _mm_movemask_epi8(m) != 0; }
    static std::size_t lowest(Mask m) noexcept { return first(lanes(m)); }

    static LaneSet lanes(Mask m) noexcept { return static_cast<LaneSet>(_mm_movemask_epi8(m)); }
    static bool empty(LaneSet s) noexcept { return s == 0; }
    static std::size_t first(LaneSet s) noexcept {
        return static_cast<std::size_t>(__builtin_ctz(s));
    }
    static LaneSet drop_first(LaneSet s) noexcept { return s & (s - 1); }

    template <int K>
    static Vec shifted(Vec a, Vec b) noexcept {
        static_assert(K > 0 && K < 16);
        return _mm_or_si128(_mm_srli_si128(a, K), _mm_slli_si128(b, 16 - K));
    }
};

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
