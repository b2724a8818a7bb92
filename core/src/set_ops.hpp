// What the byte-set searches (any.hpp) need of a backend beyond the Vector
// concept: the complement of a mask, and where the
// instruction set has a byte shuffle, membership of each lane in a ByteSet
// by table lookup. Kept beside the backends rather than in them: SetOps<V>
// is specialised once per backend, under the same macros as vector.hpp
// includes the backend with.
//   not_(m)                  the lanes not set in m
//   kTable (optional)        whether the backend tests membership by table:
//   Table, table(set)        the set in the form in_table reads, built once per call
//   in_table(x, t)           the lanes of x whose byte is a member
//   kLowTable (optional)     in_low_table(x, t): the same for a set with no
//                            member from 0x80 up
//   kHits (optional)         table_hits(x, t), low_table_hits(x, t): a vector
//                            nonzero in the lanes of members; or_hits(a, b);
//                            any_hit(h), whether a lane is nonzero
//   kWindow (optional)       for a set whose members lie within 64 consecutive
//                            byte values from `low` (a window): Window,
//                            window(bits, low), built once per call from the
//                            window's 64-bit map (bit i: member low + i);
//                            in_window(x, w), the lanes of members;
//                            in_first_window(x, w), the same for low = 0
// Reached through vector.hpp, which checks QARVO_ISA_NAMESPACE first.
#pragma once

#include <cstddef>
#include <cstdint>
#if defined(__x86_64__) && defined(__SSSE3__)
#include <immintrin.h>
#endif

#include "qarvo/search.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

template <class V>
struct SetOps;

// Byte k of this little-endian word is 1 << k: the bit of a high nibble h
// within its row is byte h % 8 (the x86 in_table lookups).
inline constexpr auto kBitOfIndex = static_cast<long long>(0x8040201008040201ULL);

// Whether SetOps<V> tests membership by table lookup.
template <class V>
inline constexpr bool has_table = requires {
    SetOps<V>::kTable;
};

// Whether SetOps<V> has in_low_table(x, t): in_table for sets with no member
// from 0x80 up, in fewer operations.
template <class V>
inline constexpr bool has_low_table = requires {
    SetOps<V>::kLowTable;
};

// Whether SetOps<V> tests sets within a window of 64 byte values by a bit
// lookup (kWindow).
template <class V>
inline constexpr bool has_window = requires {
    SetOps<V>::kWindow;
};

// Whether SetOps<V> tests blocks by hits (kHits).
template <class V>
inline constexpr bool has_hits = requires {
    SetOps<V>::kHits;
};

// The scalar emulation tests each lane against the set's 256-bit map.
template <>
struct SetOps<Scalar> {
    using Mask = Scalar::Mask;
    static Mask not_(Mask m) noexcept { return {~m.lo, ~m.hi}; }

    static constexpr bool kTable = true;
    using Table = ByteSet;
    static Table table(const ByteSet& set) noexcept { return set; }
    static Mask in_table(Scalar::Vec x, const Table& t) noexcept {
        std::uint64_t word[2] = {0, 0};
        for (std::size_t k = 0; k < 16; ++k) {
            if (t.contains(x.lane[k])) {
                word[k / 8] |= std::uint64_t{0xFF} << (8 * (k % 8));
            }
        }
        return {word[0], word[1]};
    }
};

#if defined(__x86_64__) && defined(__SSE2__)
template <>
struct SetOps<Sse2> {
    using Mask = __m128i;
    static Mask not_(Mask m) noexcept { return _mm_xor_si128(m, _mm_set1_epi8(-1)); }

#if defined(__SSSE3__)
    // In the wider variants' TUs, whose short ranges take 16-byte steps: the
    // nibble tables of in_table below. Plain SSE2 has no byte shuffle, so the
    // baseline variant searches sets of more than three bytes (and fewer than
    // 253) byte by byte instead (any.hpp).
    static constexpr bool kTable = true;
    struct Table {
        __m128i rows_low;   // by low nibble: bit h of the row, high nibble h < 8
        __m128i rows_high;  // by low nibble: bit h - 8, high nibble h >= 8
    };
    static Table table(const ByteSet& set) noexcept {
        return {rows(set, 0), rows(set, 16)};
    }
    // pshufb yields 0 in a lane whose index has bit 7 set, else the table's
    // byte at the index's low nibble. So the first lookup gives the row of
    // the bytes below 0x80 (and 0 for the others), the second, indexed by the
    // byte with bit 7 flipped, that of the bytes from 0x80: their OR is the
    // row of the lane's low nibble for its half. The third gives each lane
    // the bit of its high nibble within the row.
    static Mask in_table(__m128i x, const Table& t) noexcept {
        const __m128i row =
            _mm_or_si128(_mm_shuffle_epi8(t.rows_low, x),
                         _mm_shuffle_epi8(t.rows_high, _mm_xor_si128(x, high_bit())));
        const __m128i high = _mm_and_si128(_mm_srli_epi16(x, 4), _mm_set1_epi8(0x0F));
        const __m128i bit = _mm_shuffle_epi8(_mm_set1_epi64x(kBitOfIndex), high);
        return _mm_cmpeq_epi8(_mm_and_si128(row, bit), bit);
    }
    // A set with no member from 0x80 up: the row of the bytes below 0x80
    // alone, which is 0 for the others.
    static constexpr bool kLowTable = true;
    static Mask in_low_table(__m128i x, const Table& t) noexcept {
        const __m128i row = _mm_shuffle_epi8(t.rows_low, x);
        const __m128i high = _mm_and_si128(_mm_srli_epi16(x, 4), _mm_set1_epi8(0x0F));
        const __m128i bit = _mm_shuffle_epi8(_mm_set1_epi64x(kBitOfIndex), high);
        return _mm_cmpeq_epi8(_mm_and_si128(row, bit), bit);
    }

private:
    static __m128i rows(const ByteSet& set, std::size_t from) noexcept {
        alignas(16) std::uint8_t r[16];
        for (std::size_t k = 0; k < 16; ++k) {
            r[k] = set.by_low_nibble(from + k);
        }
        return _mm_load_si128(reinterpret_cast<const __m128i*>(r));
    }
    static __m128i high_bit() noexcept {
        return _mm_set1_epi8(static_cast<char>(0x80));
    }
#endif
};

template <>
struct SetOps<Sse2Exact> : SetOps<Sse2> {};
#endif

#if defined(__x86_64__) && defined(__AVX2__)
// The lookups of SetOps<Sse2>::in_table, in each 128-bit half.
template <>
struct SetOps<Avx2> {
    using Mask = __m256i;
    static Mask not_(Mask m) noexcept { return _mm256_xor_si256(m, _mm256_set1_epi8(-1)); }

    static constexpr bool kTable = true;
    struct Table {
        __m256i rows_low;
        __m256i rows_high;
    };
    static Table table(const ByteSet& set) noexcept {
        const typename SetOps<Sse2>::Table t = SetOps<Sse2>::table(set);
        return {_mm256_broadcastsi128_si256(t.rows_low), _mm256_broadcastsi128_si256(t.rows_high)};
    }
    static Mask in_table(__m256i x, const Table& t) noexcept {
        const __m256i bit = bit_of_high_nibble(x);
        return _mm256_cmpeq_epi8(_mm256_and_si256(row(x, t), bit), bit);
    }
    static constexpr bool kLowTable = true;
    static Mask in_low_table(__m256i x, const Table& t) noexcept {
        const __m256i bit = bit_of_high_nibble(x);
        return _mm256_cmpeq_epi8(_mm256_and_si256(low_row(x, t), bit), bit);
    }

    // Hits: in_table before its compare, nonzero in the lanes of members. A
    // block of vectors is tested by the OR of its hits (vptest), saving a
    // compare and a movemask per vector; the masks are computed only for the
    // block that holds a member. The absent sets of 4 to 64 bytes in the
    // core benchmark show it.
    static constexpr bool kHits = true;
    using Hits = __m256i;
    static Hits table_hits(__m256i x, const Table& t) noexcept {
        return _mm256_and_si256(row(x, t), bit_of_high_nibble(x));
    }
    static Hits low_table_hits(__m256i x, const Table& t) noexcept {
        return _mm256_and_si256(low_row(x, t), bit_of_high_nibble(x));
    }
    static Hits or_hits(Hits a, Hits b) noexcept { return _mm256_or_si256(a, b); }
    static bool any_hit(Hits h) noexcept { return _mm256_testz_si256(h, h) == 0; }

private:
    static __m256i row(__m256i x, const Table& t) noexcept {
        return _mm256_or_si256(
            _mm256_shuffle_epi8(t.rows_low, x),
            _mm256_shuffle_epi8(t.rows_high, _mm256_xor_si256(x, _mm256_set1_epi8(-128))));
    }
    static __m256i low_row(__m256i x, const Table& t) noexcept {
        return _mm256_shuffle_epi8(t.rows_low, x);
    }
    static __m256i bit_of_high_nibble(__m256i x) noexcept {
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), _mm256_set1_epi8(0x0F));
        return _mm256_shuffle_epi8(_mm256_set1_epi64x(kBitOfIndex), high);
    }
};
#endif

#if defined(__x86_64__) && defined(__AVX512BW__)
// The lookups of SetOps<Sse2>::in_table, in each 128-bit quarter; a lane is
// a member where its row and its bit share a set bit (vptestmb).
template <>
struct SetOps<Avx512> {
    using Mask = __mmask64;
    static Mask not_(Mask m) noexcept { return ~m; }

    static constexpr bool kTable = true;
    struct Table {
        __m512i rows_low;
        __m512i rows_high;
    };
    static Table table(const ByteSet& set) noexcept {
        const typename SetOps<Sse2>::Table t = SetOps<Sse2>::table(set);
        return {quarters(t.rows_low), quarters(t.rows_high)};
    }
    static Mask in_table(__m512i x, const Table& t) noexcept {
        const __m512i row = _mm512_or_si512(
            _mm512_shuffle_epi8(t.rows_low, x),
            _mm512_shuffle_epi8(t.rows_high, _mm512_xor_si512(x, _mm512_set1_epi8(-128))));
        const __m512i high = _mm512_and_si512(_mm512_srli_epi16(x, 4), _mm512_set1_epi8(0x0F));
        const __m512i bit = _mm512_shuffle_epi8(_mm512_set1_epi64(kBitOfIndex), high);
        return _mm512_test_epi8_mask(row, bit);
    }
    static constexpr bool kLowTable = true;
    static Mask in_low_table(__m512i x, const Table& t) noexcept {
        const __m512i row = _mm512_shuffle_epi8(t.rows_low, x);
        const __m512i high = _mm512_and_si512(_mm512_srli_epi16(x, 4), _mm512_set1_epi8(0x0F));
        const __m512i bit = _mm512_shuffle_epi8(_mm512_set1_epi64(kBitOfIndex), high);
        return _mm512_test_epi8_mask(row, bit);
    }

#if defined(__AVX512BITALG__)
    // A window's map in every 64-bit lane: vpshufbitqmb gives lane i the bit
    // of its lane's map that the low 6 bits of index byte i select, under a
    // mask of the lanes whose offset from the window's low byte is below 64.
    // Three operations a vector (two for a window from byte 0, which needs
    // no offset), where the nibble lookups above take up to seven: the core
    // benchmark's set/first_window and set/window rows.
    static constexpr bool kWindow = true;
    struct Window {
        __m512i map;
        __m512i low;
    };
    static Window window(std::uint64_t bits, std::uint8_t low) noexcept {
        return {_mm512_set1_epi64(static_cast<long long>(bits)),
                _mm512_set1_epi8(static_cast<char>(low))};
    }
    static Mask in_window(__m512i x, const Window& w) noexcept {
        const __m512i offset = _mm512_sub_epi8(x, w.low);
        const Mask inside = _mm512_cmplt_epu8_mask(offset, _mm512_set1_epi8(64));
        return _mm512_mask_bitshuffle_epi64_mask(inside, w.map, offset);
    }
    static Mask in_first_window(__m512i x, const Window& w) noexcept {
        const Mask inside = _mm512_cmplt_epu8_mask(x, _mm512_set1_epi8(64));
        return _mm512_mask_bitshuffle_epi64_mask(inside, w.map, x);
    }
#endif

private:
    // x in each 128-bit quarter. The zero-masking form with every lane kept
    // is the plain vbroadcasti32x4; the unmasked intrinsic trips
    // -Wmaybe-uninitialized on its internal "undefined" source operand.
    static __m512i quarters(__m128i x) noexcept {
        return _mm512_maskz_broadcast_i32x4(0xFFFF, x);
    }
};
#endif

#if defined(__aarch64__)
// The set's 256-bit map as a 32-byte table: byte b is bit b % 8 of table
// byte b / 8, which one two-register tbl reads (indices below 32).
template <>
struct SetOps<Neon> {
    using Mask = uint8x16_t;
    static Mask not_(Mask m) noexcept { return vmvnq_u8(m); }

    static constexpr bool kTable = true;
    using Table = uint8x16x2_t;
    static Table table(const ByteSet& set) noexcept {
        std::uint8_t map[32];
        for (std::size_t k = 0; k < 32; ++k) {
            map[k] = static_cast<std::uint8_t>(set.word(k / 8) >> (8 * (k % 8)));
        }
        return {{vld1q_u8(map), vld1q_u8(map + 16)}};
    }
    static Mask in_table(uint8x16_t x, const Table& t) noexcept {
        const uint8x16_t row = vqtbl2q_u8(t, vshrq_n_u8(x, 3));
        const uint8x16_t bit =
            vshlq_u8(vdupq_n_u8(1), vreinterpretq_s8_u8(vandq_u8(x, vdupq_n_u8(7))));
        return vtstq_u8(row, bit);
    }
};
#endif

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
