// find_stride_hits: the candidates of a StrideFilter (qarvo/stride_keys.hpp).
//
// Where the translation unit has AVX2, eight grid points are tested per
// step with one gather: lane i of the step at q holds the bytes at
// q + Step i (the low half from a load at q, the high from a load at
// q + 4 Step, each 128-bit half picking its four windows with one byte
// shuffle), which become the key (a pair as it is, three bytes multiplied
// into the hash) and then the index of the bitmap's 32-bit word and the bit
// within it. The bitmap's 64-bit words
// are read as pairs of 32-bit ones, which on x86 (little-endian) hold bits
// 0 to 31 and 32 to 63. Elsewhere, and for the last offsets of a range too
// short for a step, offsets are tested one by one.
// Reached through vector.hpp, which checks QARVO_ISA_NAMESPACE first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qarvo/stride_keys.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The candidates among offsets q = from, from + Step, ... with
// q + Width <= n, one by one, after the `got` already in out.
template <std::uint32_t Width, std::uint32_t Step>
std::size_t stride_hits_one_by_one(const std::uint8_t* data, std::size_t n, std::size_t from,
                                   const StrideFilter& filter, std::span<std::size_t> out,
                                   std::size_t got) noexcept {
    for (std::size_t q = from; q + Width <= n && got < out.size(); q += Step) {
        if (filter.has(StrideFilter::key_of<Width>(data + q))) {
            out[got++] = q;
        }
    }
    return got;
}

#if defined(__x86_64__) && defined(__AVX2__)
// Byte shuffles that put the window at Step i of a 128-bit half into its
// 32-bit lane i: pairs as b0 | b1 << 8, three bytes as b0 << 8 | b1 << 16 |
// b2 << 24 (-1: a zero byte), as StrideFilter::key_of computes them.
template <std::uint32_t Width, std::uint32_t Step>
__m256i window_picks() noexcept {
    alignas(32) std::int8_t picks[32];
    for (int half = 0; half < 2; ++half) {
        for (int lane = 0; lane < 4; ++lane) {
            std::int8_t* const out = picks + 16 * half + 4 * lane;
            const int at = static_cast<int>(Step) * lane;
            for (int k = 0; k < 4; ++k) {
                // Pairs fill bytes 0 and 1 of the lane, triples bytes 1 to 3.
                const int from = Width == 2 ? k : k - 1;
                out[k] = static_cast<std::int8_t>(
                    from >= 0 && from < static_cast<int>(Width) ? at + from : -1);
            }
        }
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(picks));
}

template <std::uint32_t Width, std::uint32_t Step>
std::size_t stride_hits_gathered(const std::uint8_t* data, std::size_t n,
                                 const StrideFilter& filter, std::span<std::size_t> out) noexcept {
    assert(!out.empty());  // each step writes a slot
    const __m256i picks = window_picks<Width, Step>();
    const __m256i multiplier = _mm256_set1_epi32(static_cast<int>(0x9E3779B1U));
    const __m256i low_five = _mm256_set1_epi32(31);
    const auto* const words = reinterpret_cast<const int*>(filter.keys);
    std::size_t got = 0;
    std::size_t q = 0;
    // A step tests the 8 Step offsets from q on, reading 16 bytes from q
    // and from q + 4 Step.
    constexpr std::size_t kHigh = 4 * Step;
    for (; q + kHigh + 16 <= n; q += 2 * kHigh) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + q));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + q + kHigh));
        __m256i key = _mm256_shuffle_epi8(
            _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1), picks);
        if constexpr (Width == 3) {
            key = _mm256_srli_epi32(_mm256_mullo_epi32(key, multiplier),
                                    32 - static_cast<int>(StrideFilter::kHashBits));
        }
        const __m256i word = _mm256_i32gather_epi32(words, _mm256_srli_epi32(key, 5), 4);
        const __m256i bit = _mm256_srlv_epi32(word, _mm256_and_si256(key, low_five));
        auto hits = static_cast<unsigned>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(bit, 31))));
        // The first hit of a step is stored without a branch (a step's slot
        // is written whether it hit or not): a branch taken at one step in
        // five or six, as on random binary data, is mispredicted often, and
        // each miss throws away the gathers in flight behind it
        // (compare_multi.py --data binary, 500 needles; core/TUNING.md).
        // Steps with two hits or more are rare.
        out[got] = q + Step * static_cast<std::size_t>(__builtin_ctz(hits | 0x100U));
        got += (hits + 0xFFU) >> 8;  // 1 for any hit: arithmetic, or GCC branches on it
        if ((hits & (hits - 1)) != 0) [[unlikely]] {
            for (hits &= hits - 1; hits != 0; hits &= hits - 1) {
                if (got == out.size()) {
                    return got;
                }
                out[got++] = q + Step * static_cast<std::size_t>(__builtin_ctz(hits));
            }
        }
        if (got == out.size()) {
            return got;
        }
    }
    return stride_hits_one_by_one<Width, Step>(data, n, q, filter, out, got);
}
#endif

template <std::uint32_t Width, std::uint32_t Step>
std::size_t stride_hits_of_shape(const std::uint8_t* data, std::size_t n,
                                 const StrideFilter& filter, std::span<std::size_t> out) noexcept {
#if defined(__x86_64__) && defined(__AVX2__)
    return stride_hits_gathered<Width, Step>(data, n, filter, out);
#else
    return stride_hits_one_by_one<Width, Step>(data, n, 0, filter, out, 0);
#endif
}

// The variants' find_stride_hits.
inline std::size_t stride_hits_of(ByteRange haystack, const StrideFilter& filter,
                                  std::span<std::size_t> out) noexcept {
    assert(filter.width == 2 || filter.width == 3);
    assert(filter.step == 2 || filter.step == 3);
    if (out.empty()) {
        return 0;
    }
    const std::uint8_t* const data = haystack.data;
    const std::size_t n = haystack.size;
    if (filter.width == 2) {
        return filter.step == 2 ? stride_hits_of_shape<2, 2>(data, n, filter, out)
                                : stride_hits_of_shape<2, 3>(data, n, filter, out);
    }
    return filter.step == 2 ? stride_hits_of_shape<3, 2>(data, n, filter, out)
                            : stride_hits_of_shape<3, 3>(data, n, filter, out);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
