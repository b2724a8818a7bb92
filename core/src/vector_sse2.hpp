// The x86-64 baseline: 16-byte SSE2 vectors. SSE2 has no byte alignment
// across two registers (palignr is SSSE3), so shifted<K> is built from two
// whole-register byte shifts and an OR.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "bit_lanes.hpp"
#include "vector_contract.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// One bit per lane (pmovmskb), lane k in bit k.
struct Sse2MoveMask {
    using Mask = __m128i;
    [[gnu::always_inline]] std::uint32_t operator()(Mask m) const noexcept {
        return static_cast<std::uint32_t>(_mm_movemask_epi8(m));
    }
};

struct Sse2 : BitLanes<Sse2MoveMask> {
    static constexpr std::size_t kWidth = 16;
    static constexpr bool kAlignLoads = false;

    using Vec = __m128i;
    using Mask = __m128i;

    static Vec splat(std::uint8_t b) noexcept { return _mm_set1_epi8(static_cast<char>(b)); }

    // Precondition: 16 readable bytes at p.
    static Vec load(const std::uint8_t* p) noexcept {
        return _mm_loadu_si128(reinterpret_cast<const __m128i_u*>(p));
    }

    static Mask eq(Vec x, Vec y) noexcept { return _mm_cmpeq_epi8(x, y); }
    static Mask and_(Mask a, Mask b) noexcept { return _mm_and_si128(a, b); }
    static Mask or_(Mask a, Mask b) noexcept { return _mm_or_si128(a, b); }

    template <int K>
    static Vec shifted(Vec a, Vec b) noexcept {
        return _mm_or_si128(_mm_srli_si128(a, K), _mm_slli_si128(b, 16 - K));
    }
};
static_assert(Vector<Sse2>);

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
