// The x86-64 baseline: 16-byte SSE2 vectors. SSE2 has no byte alignment
// across two registers (palignr is SSSE3), so shifted<K> is built from two
// whole-register byte shifts and an OR.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

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
    static Vec bits_or(Vec x, Vec y) noexcept { return _mm_or_si128(x, y); }
    static Mask and_(Mask a, Mask b) noexcept { return _mm_and_si128(a, b); }
    static Mask or_(Mask a, Mask b) noexcept { return _mm_or_si128(a, b); }

    template <int K>
    static Vec shifted(Vec a, Vec b) noexcept {
        return _mm_or_si128(_mm_srli_si128(a, K), _mm_slli_si128(b, 16 - K));
    }

    // Byte tallies for count_one (has_tally): tally(t, m) adds one to the
    // lanes of t where m is set (a set lane is all ones, so a subtraction);
    // tally_sum(t) adds t's lanes up (psadbw against zero, one sum per
    // half). A lane wraps after 255 tallies: count_one sums before that.
    static constexpr bool kTally = true;
    static Vec tally(Vec t, Mask m) noexcept { return _mm_sub_epi8(t, m); }
    static std::size_t tally_sum(Vec t) noexcept {
        const __m128i sums = _mm_sad_epu8(t, _mm_setzero_si128());
        return static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
               static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
    }
};
static_assert(Vector<Sse2>);

// 16-byte steps whose loads read exactly the bytes asked for, for the wide
// variants' ranges shorter than 16 bytes (one load where the plain steps
// would go position by position). Loads of at most 16 bytes are assembled
// from two overlapping loads of 8, 4 or 1 bytes in general registers, so no
// byte outside the range is read, and the lanes past it are zero; the
// searches mask those lanes out with first_lanes (has_masked_load in
// vector.hpp), as with AVX-512's masked loads.
struct Sse2Exact : Sse2 {
    static constexpr bool kMaskedLoad = true;

    // Lanes 0 .. count - 1. Precondition: count <= 16.
    static Mask first_lanes(std::size_t count) noexcept {
        const __m128i lane_index =
            _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        return _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(count)), lane_index);
    }

    // The count bytes at p in lanes 0 .. count - 1, zero above; reads p[0] ..
    // p[count - 1] only. Precondition: count <= 16. Little-endian: byte k of
    // a loaded word is lane k.
    static Vec load_first(const std::uint8_t* p, std::size_t count) noexcept {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        if (count >= 8) {
            // Bytes 0 .. 7, and count - 8 .. count - 1, whose last count - 8
            // are lanes 8 .. count - 1.
            low = word<std::uint64_t>(p);
            if (count > 8) {
                high = word<std::uint64_t>(p + count - 8) >> (8 * (16 - count));
            }
        } else if (count >= 4) {
            // Bytes 0 .. 3 and count - 4 .. count - 1 in place; where they
            // overlap they are the same bytes.
            low = word<std::uint32_t>(p) | std::uint64_t{word<std::uint32_t>(p + count - 4)}
                                               << (8 * (count - 4));
        } else if (count > 0) {
            // Bytes 0, count / 2 and count - 1 cover 1 to 3 bytes.
            low = std::uint64_t{p[0]} | std::uint64_t{p[count / 2]} << (8 * (count / 2)) |
                  std::uint64_t{p[count - 1]} << (8 * (count - 1));
        }
        return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
    }

private:
    template <class Word>
    static Word word(const std::uint8_t* p) noexcept {
        Word w;
        std::memcpy(&w, p, sizeof w);
        return w;
    }
};
static_assert(Vector<Sse2Exact>);

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
