// 32-byte AVX2 vectors. vpalignr works within each 128-bit half, so
// shifted<K> first forms the vector (high half of a, low half of b) with
// vperm2i128 and aligns each half against it.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "bit_lanes.hpp"
#include "vector_contract.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// One bit per lane (vpmovmskb), lane k in bit k.
struct Avx2MoveMask {
    using Mask = __m256i;
    [[gnu::always_inline]] std::uint32_t operator()(Mask m) const noexcept {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(m));
    }
};

struct Avx2 : BitLanes<Avx2MoveMask> {
    static constexpr std::size_t kWidth = 32;
    static constexpr bool kAlignLoads = true;

    using Vec = __m256i;
    using Mask = __m256i;

    static Vec splat(std::uint8_t b) noexcept { return _mm256_set1_epi8(static_cast<char>(b)); }

    // Precondition: 32 readable bytes at p.
    static Vec load(const std::uint8_t* p) noexcept {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i_u*>(p));
    }

    static Mask eq(Vec x, Vec y) noexcept { return _mm256_cmpeq_epi8(x, y); }
    static Vec bits_or(Vec x, Vec y) noexcept { return _mm256_or_si256(x, y); }
    static Mask and_(Mask a, Mask b) noexcept { return _mm256_and_si256(a, b); }
    static Mask or_(Mask a, Mask b) noexcept { return _mm256_or_si256(a, b); }

    template <int K>
    static Vec shifted(Vec a, Vec b) noexcept {
        const __m256i middle = _mm256_permute2x128_si256(a, b, 0x21);
        return _mm256_alignr_epi8(middle, a, K);
    }

    // Byte tallies for count_one, as Sse2's: a subtraction per mask, and
    // psadbw once per 255 of them.
    static constexpr bool kTally = true;
    static Vec tally(Vec t, Mask m) noexcept { return _mm256_sub_epi8(t, m); }
    static std::size_t tally_sum(Vec t) noexcept {
        const __m256i sums = _mm256_sad_epu8(t, _mm256_setzero_si256());
        const __m128i halves =
            _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
        return static_cast<std::size_t>(_mm_cvtsi128_si32(halves)) +
               static_cast<std::size_t>(_mm_extract_epi16(halves, 4));
    }
};
static_assert(Vector<Avx2>);

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
