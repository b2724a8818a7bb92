// find_bucket_hits: the candidates of a BucketFilter (qarvo/buckets.hpp).
//
// Where the instruction set has a byte shuffle (SSSE3 and up, Advanced
// SIMD), BucketOps<V> looks up a vector of bytes in a pair of 16-entry
// nibble tables; the offsets of a vector are candidates where the lookups
// of the `width` byte positions, each from a load one byte further on,
// ANDed together, leave a bucket bit. The range is walked in steps of
// one vector, the last step overlapping the one before so that no load
// leaves the range; a range too short for one step takes the next
// narrower vector, and below every vector a byte-by-byte loop over the same
// tables, which is also the whole search of the variants without a shuffle
// (scalar, plain SSE2).
// Reached through vector.hpp, which checks QARVO_ISA_NAMESPACE first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <tuple>

#include "qarvo/buckets.hpp"
#include "set_ops.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// table(row): a 16-byte row of BucketFilter in every 128-bit part of a
// vector; buckets(x, low, high): the bucket bits of each lane of x, the
// AND of its low nibble's and its high nibble's entries; and_(a, b).
template <class V>
struct BucketOps;

template <class V>
inline constexpr bool has_bucket_ops = requires {
    BucketOps<V>::kShuffle;
};

#if defined(__x86_64__) && defined(__SSSE3__)
template <>
struct BucketOps<Sse2> {
    static constexpr bool kShuffle = true;
    using Vec = __m128i;
    static Vec table(const std::uint8_t* row) noexcept {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(row));
    }
    static Vec buckets(Vec x, Vec low, Vec high) noexcept {
        const __m128i nibble = _mm_set1_epi8(0x0F);
        return _mm_and_si128(_mm_shuffle_epi8(low, _mm_and_si128(x, nibble)),
                             _mm_shuffle_epi8(high, _mm_and_si128(_mm_srli_epi16(x, 4), nibble)));
    }
    static Vec and_(Vec a, Vec b) noexcept { return _mm_and_si128(a, b); }
};
#endif

#if defined(__x86_64__) && defined(__AVX2__)
template <>
struct BucketOps<Avx2> {
    static constexpr bool kShuffle = true;
    using Vec = __m256i;
    static Vec table(const std::uint8_t* row) noexcept {
        return _mm256_broadcastsi128_si256(BucketOps<Sse2>::table(row));
    }
    static Vec buckets(Vec x, Vec low, Vec high) noexcept {
        const __m256i nibble = _mm256_set1_epi8(0x0F);
        return _mm256_and_si256(
            _mm256_shuffle_epi8(low, _mm256_and_si256(x, nibble)),
            _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble)));
    }
    static Vec and_(Vec a, Vec b) noexcept { return _mm256_and_si256(a, b); }
};
#endif

#if defined(__x86_64__) && defined(__AVX512BW__)
template <>
struct BucketOps<Avx512> {
    static constexpr bool kShuffle = true;
    using Vec = __m512i;
    static Vec table(const std::uint8_t* row) noexcept {
        // The zero-masking form, as SetOps<Avx512> uses (set_ops.hpp).
        return _mm512_maskz_broadcast_i32x4(0xFFFF, BucketOps<Sse2>::table(row));
    }
    static Vec buckets(Vec x, Vec low, Vec high) noexcept {
        const __m512i nibble = _mm512_set1_epi8(0x0F);
        return _mm512_and_si512(
            _mm512_shuffle_epi8(low, _mm512_and_si512(x, nibble)),
            _mm512_shuffle_epi8(high, _mm512_and_si512(_mm512_srli_epi16(x, 4), nibble)));
    }
    static Vec and_(Vec a, Vec b) noexcept { return _mm512_and_si512(a, b); }
};
#endif

#if defined(__aarch64__)
template <>
struct BucketOps<Neon> {
    static constexpr bool kShuffle = true;
    using Vec = uint8x16_t;
    static Vec table(const std::uint8_t* row) noexcept { return vld1q_u8(row); }
    static Vec buckets(Vec x, Vec low, Vec high) noexcept {
        return vandq_u8(vqtbl1q_u8(low, vandq_u8(x, vdupq_n_u8(0x0F))),
                        vqtbl1q_u8(high, vshrq_n_u8(x, 4)));
    }
    static Vec and_(Vec a, Vec b) noexcept { return vandq_u8(a, b); }
};
#endif

// The candidates among offsets 0 .. n - K, byte by byte.
template <std::size_t K>
std::size_t bucket_hits_bytewise(const std::uint8_t* data, std::size_t n,
                                 const BucketFilter& filter, std::span<BucketHit> out) noexcept {
    std::size_t got = 0;
    for (std::size_t p = 0; p + K <= n && got < out.size(); ++p) {
        std::uint8_t bits = 0xFF;
        for (std::size_t k = 0; k < K; ++k) {
            bits &= static_cast<std::uint8_t>(filter.low[k][data[p + k] & 0x0F] &
                                              filter.high[k][data[p + k] >> 4]);
        }
        if (bits != 0) {
            out[got++] = BucketHit{p, bits};
        }
    }
    return got;
}

// The candidates among offsets 0 .. n - K in steps of one V.
// Precondition: n >= W + K - 1, so one step's K loads fit.
template <class V, std::size_t K>
std::size_t bucket_hits_in_steps(const std::uint8_t* data, std::size_t n,
                                 const BucketFilter& filter, std::span<BucketHit> out) noexcept {
    using Ops = BucketOps<V>;
    constexpr std::size_t W = V::kWidth;
    assert(n >= W + K - 1);
    typename Ops::Vec low[K];
    typename Ops::Vec high[K];
    for (std::size_t k = 0; k < K; ++k) {
        low[k] = Ops::table(filter.low[k]);
        high[k] = Ops::table(filter.high[k]);
    }
    const typename V::Vec zero = V::splat(0);
    const std::size_t last = n - (W + K - 1);  // the offset of the final step
    std::size_t got = 0;
    std::size_t examined = 0;  // offsets below this are done
    for (std::size_t at = 0;; at += W) {
        const bool final = at >= last;
        at = final ? last : at;
        typename Ops::Vec bits = Ops::buckets(load_at<V>(data, n, at), low[0], high[0]);
        // Unrolled, or GCC keeps `bits` in memory across the byte positions,
        // a store and a reload per position (compare_multi.py, binary, 64
        // needles; figures in core/TUNING.md).
#pragma GCC unroll 4
        for (std::size_t k = 1; k < K; ++k) {
            bits = Ops::and_(bits, Ops::buckets(load_at<V>(data, n, at + k), low[k], high[k]));
        }
        const typename V::Mask hit = SetOps<V>::not_(V::eq(bits, zero));
        if (V::any(hit)) {
            alignas(64) std::uint8_t lane_bits[W];
            std::memcpy(lane_bits, &bits, W);
            for (auto lanes = V::lanes(hit); !V::empty(lanes); lanes = V::drop_first(lanes)) {
                const std::size_t lane = V::first(lanes);
                if (at + lane < examined) {
                    continue;  // the final step's overlap
                }
                out[got++] = BucketHit{at + lane, lane_bits[lane]};
                if (got == out.size()) {
                    return got;
                }
            }
        }
        if (final) {
            return got;
        }
        examined = at + W;
    }
}

template <std::size_t K, class V, class... Narrower>
std::size_t bucket_hits_of_width(const std::uint8_t* data, std::size_t n,
                                 const BucketFilter& filter, std::span<BucketHit> out) noexcept {
    if constexpr (has_bucket_ops<V>) {
        if (n >= V::kWidth + K - 1) {
            return bucket_hits_in_steps<V, K>(data, n, filter, out);
        }
    }
    if constexpr (sizeof...(Narrower) > 0) {
        return bucket_hits_of_width<K, Narrower...>(data, n, filter, out);
    } else {
        return bucket_hits_bytewise<K>(data, n, filter, out);
    }
}

// The variants' find_bucket_hits: V, then each narrower backend, then bytes.
template <class V, class... Narrower>
std::size_t find_bucket_hits(ByteRange haystack, const BucketFilter& filter,
                             std::span<BucketHit> out) noexcept {
    assert(filter.width >= 1 && filter.width <= BucketFilter::kMaxWidth);
    if (out.empty()) {
        return 0;
    }
    switch (filter.width) {
        case 1:
            return bucket_hits_of_width<1, V, Narrower...>(haystack.data, haystack.size, filter,
                                                           out);
        case 2:
            return bucket_hits_of_width<2, V, Narrower...>(haystack.data, haystack.size, filter,
                                                           out);
        case 3:
            return bucket_hits_of_width<3, V, Narrower...>(haystack.data, haystack.size, filter,
                                                           out);
        default:
            return bucket_hits_of_width<4, V, Narrower...>(haystack.data, haystack.size, filter,
                                                           out);
    }
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
