// A portable emulation of the 16-byte vector: a plain array of 16 bytes, with
// masks kept as two little-endian 64-bit words (lanes 0 to 7 in the low word).
// It gives exactly the results of the hardware backends and runs anywhere.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vector_contract.hpp"
#include "word_lanes.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The masks already are the two words.
struct ScalarToWords {
    using Mask = WordLanes;
    WordLanes operator()(Mask m) const noexcept { return m; }
};

struct Scalar : WordLaneOps<ScalarToWords> {
    static constexpr std::size_t kWidth = 16;
    static constexpr bool kAlignLoads = false;

    struct Vec {
        std::uint8_t lane[16];
    };
    using Mask = WordLanes;

    static Vec splat(std::uint8_t b) noexcept {
        Vec v;
        std::memset(v.lane, b, sizeof v.lane);
        return v;
    }

    // Precondition: 16 readable bytes at p.
    static Vec load(const std::uint8_t* p) noexcept {
        Vec v;
        std::memcpy(v.lane, p, sizeof v.lane);
        return v;
    }

    static Mask eq(Vec x, Vec y) noexcept {
        return {eq_word(word(x, 0), word(y, 0)), eq_word(word(x, 8), word(y, 8))};
    }
    static Vec bits_or(Vec x, Vec y) noexcept {
        Vec v;
        for (std::size_t k = 0; k < 16; ++k) {
            v.lane[k] = static_cast<std::uint8_t>(x.lane[k] | y.lane[k]);
        }
        return v;
    }
    static Mask and_(Mask a, Mask b) noexcept { return {a.lo & b.lo, a.hi & b.hi}; }
    static Mask or_(Mask a, Mask b) noexcept { return {a.lo | b.lo, a.hi | b.hi}; }

    template <int K>
    static Vec shifted(Vec a, Vec b) noexcept {
        constexpr std::size_t k = static_cast<std::size_t>(K);
        Vec v;
        std::memcpy(v.lane, a.lane + k, 16 - k);
        std::memcpy(v.lane + (16 - k), b.lane, k);
        return v;
    }

private:
    // Lanes `at` .. `at` + 7 as a little-endian word (lane `at` lowest).
    static std::uint64_t word(const Vec& v, std::size_t at) noexcept {
        std::uint64_t w;
        std::memcpy(&w, v.lane + at, sizeof w);
        if constexpr (std::endian::native == std::endian::big) {
            w = __builtin_bswap64(w);
        }
        return w;
    }

    // 0xFF in each byte where x and y agree, 0x00 elsewhere. Exact per byte:
    // adding 0x7F to the low seven bits never carries into the next byte.
    static std::uint64_t eq_word(std::uint64_t x, std::uint64_t y) noexcept {
        constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
        constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
        const std::uint64_t diff = x ^ y;
        const std::uint64_t nonzero = ((diff & kLow7) + kLow7) | diff;
        const std::uint64_t zero_flags = ~nonzero & kHigh;
        return (zero_flags >> 7) * 0xFF;
    }
};
static_assert(Vector<Scalar>);

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
