// 64-byte AVX-512BW vectors. Compares produce a 64-bit mask register, one bit
// per lane, so and/or/any/lowest are plain integer operations. shifted<K>
// forms the vector (lanes 16..63 of a, lanes 0..15 of b) with valignq and
// aligns each 128-bit quarter against it with vpalignr.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "bit_lanes.hpp"
#include "vector_contract.hpp"
#include "vector_sse2.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The mask register already holds one bit per lane.
struct Avx512MoveMask {
    using Mask = __mmask64;
    [[gnu::always_inline]] std::uint64_t operator()(Mask m) const noexcept { return m; }
};

struct Avx512 : BitLanes<Avx512MoveMask> {
    static constexpr std::size_t kWidth = 64;
    static constexpr bool kAlignLoads = true;

    using Vec = __m512i;
    using Mask = __mmask64;

    static Vec splat(std::uint8_t b) noexcept { return _mm512_set1_epi8(static_cast<char>(b)); }

    // Precondition: 64 readable bytes at p.
    static Vec load(const std::uint8_t* p) noexcept { return _mm512_loadu_si512(p); }

    static Mask eq(Vec x, Vec y) noexcept { return _mm512_cmpeq_epi8_mask(x, y); }
    static Vec bits_or(Vec x, Vec y) noexcept { return _mm512_or_si512(x, y); }
    static Mask and_(Mask a, Mask b) noexcept { return a & b; }
    static Mask or_(Mask a, Mask b) noexcept { return a | b; }

    // Whether any lane of four masks is set: two ORs and one kortest, all in
    // mask registers. Written as any(or_(...)), some GCC releases move two of
    // the masks to a general register, OR them there and move the result back
    // (core/TUNING.md).
    static bool any_of_four(Mask a, Mask b, Mask c, Mask d) noexcept {
        return _kortestz_mask64_u8(_kor_mask64(a, b), _kor_mask64(c, d)) == 0;
    }

    // Byte differences, for tests that fold many vectors before they look
    // at a mask: diff(x, a) is zero exactly in the lanes where x == a (an
    // XOR), pair_diff(x, a, y, b) where x == a and y == b (an XOR and one
    // vpternlog); the unsigned minimum of
    // two differences is zero where either is, and zero_lanes(d) turns the
    // result into a mask once per block. Compares into mask registers and
    // their AND/OR take longer per vector on Zen 4 (has_byte_diff in
    // vector.hpp).
    static constexpr bool kByteDiff = true;
    static Vec diff(Vec x, Vec a) noexcept { return _mm512_xor_si512(x, a); }
    static Vec pair_diff(Vec x, Vec a, Vec y, Vec b) noexcept {
        // 0xBE: (x XOR a) OR the third operand.
        return _mm512_ternarylogic_epi32(x, a, _mm512_xor_si512(y, b), 0xBE);
    }
    static Vec min_diff(Vec d, Vec e) noexcept { return _mm512_min_epu8(d, e); }
    static Mask zero_lanes(Vec d) noexcept { return _mm512_testn_epi8_mask(d, d); }

    // Loads of the first `count` lanes only (count <= 64; the rest are zero):
    // masked-off bytes are not read, so they may lie past the range's end,
    // even on a page that is not mapped. Short ranges take one such load
    // instead of a narrower loop (has_masked_load in vector.hpp).
    static constexpr bool kMaskedLoad = true;
    static Mask first_lanes(std::size_t count) noexcept {
        return _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(count));
    }
    // A masked-off lane on a page that is not mapped costs the load a
    // microcode assist on Intel, many times the load itself, for a short
    // range that ends within 64 bytes of the end of a mapping (the last block
    // of a pymalloc arena, the last page of a file under mmap; compare_real.py's
    // 32-byte English row, and core/TUNING.md for the figures). Where
    // the 64 bytes at p run onto the next page and the range does not, the
    // lanes are loaded from the 64 bytes that end where p's page ends, the
    // range's bytes only, and moved down (lanes_from_page_end).
    static Vec load_first(const std::uint8_t* p, std::size_t count) noexcept {
        const std::size_t to_page_end = kPageSize - reinterpret_cast<std::uintptr_t>(p) % kPageSize;
        if (to_page_end >= kWidth || count > to_page_end) [[likely]] {
            return _mm512_maskz_loadu_epi8(first_lanes(count), p);
        }
        return lanes_from_page_end(p, count, kWidth - to_page_end);
    }

    // The smallest page size of the CPUs this variant runs on.
    static constexpr std::size_t kPageSize = 4096;

    // load_first(p, count) from the 64 bytes that start `shift` bytes before
    // p, all on p's page: the range's lanes loaded where they lie there, and
    // moved down by `shift` with word permutes (AVX-512BW has no byte permute;
    // a store and a reload cost a failed store forward per load).
    // Precondition: 0 < shift, count + shift <= 64.
    [[gnu::always_inline]] static Vec lanes_from_page_end(const std::uint8_t* p, std::size_t count,
                                                          std::size_t shift) noexcept {
        const auto* below =
            reinterpret_cast<const std::uint8_t*>(reinterpret_cast<std::uintptr_t>(p) - shift);
        const Vec loaded = _mm512_maskz_loadu_epi8(first_lanes(count) << shift, below);
        // Word i of `moved` is word i + shift / 2 of `loaded`, and of `high`
        // the word after that (indices wrap; the lanes they bring round are
        // cleared at the end).
        const Vec index = _mm512_add_epi16(
            _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14,
                             13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0),
            _mm512_set1_epi16(static_cast<short>(shift / 2)));
        Vec moved = _mm512_permutexvar_epi16(index, loaded);
        if (shift % 2 != 0) {
            const Vec high =
                _mm512_permutexvar_epi16(_mm512_add_epi16(index, _mm512_set1_epi16(1)), loaded);
            moved = _mm512_or_si512(_mm512_srli_epi16(moved, 8), _mm512_slli_epi16(high, 8));
        }
        return _mm512_maskz_mov_epi8(first_lanes(count), moved);
    }

    // Ranges of 16 to 32 bytes take two overlapping 16-byte steps instead
    // (short_one in one.hpp): xmm registers only, so no lane mask to build,
    // no 64-byte splat, and no vzeroupper on the way out.
    using ShortSteps = Sse2;

    // shifted<K> takes two shuffles (below) on the port that every compare
    // needs too; an unaligned load of the same bytes takes a load port. The
    // searches' main loops reload instead (bytes_after in vector.hpp).
    static constexpr bool kShiftByLoad = true;

    template <int K>
    static Vec shifted(Vec a, Vec b) noexcept {
        // The zero-masking form with every lane kept is the plain valignq;
        // the unmasked intrinsic trips some GCC releases' -Wmaybe-uninitialized
        // on its internal "undefined" source operand (core/TUNING.md).
        const __m512i next = _mm512_maskz_alignr_epi64(0xFF, b, a, 2);
        return _mm512_alignr_epi8(next, a, K);
    }
};
static_assert(Vector<Avx512>);

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
