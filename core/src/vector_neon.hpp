// The aarch64 baseline: 16-byte Advanced SIMD vectors. Masks are read as their
// two 64-bit halves, moved to general registers, which is how any() and
// lowest() are defined; shifted<K> is a single ext.
#pragma once

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include "vector_contract.hpp"
#include "word_lanes.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The mask's two 64-bit halves, moved to general registers.
struct NeonToWords {
    using Mask = uint8x16_t;
    WordLanes operator()(Mask m) const noexcept {
        const uint64x2_t words = vreinterpretq_u64_u8(m);
        return {vgetq_lane_u64(words, 0), vgetq_lane_u64(words, 1)};
    }
};

struct Neon : WordLaneOps<NeonToWords> {
    static constexpr std::size_t kWidth = 16;
    static constexpr bool kAlignLoads = false;

    using Vec = uint8x16_t;
    using Mask = uint8x16_t;

    static Vec splat(std::uint8_t b) noexcept { return vdupq_n_u8(b); }

    // Precondition: 16 readable bytes at p.
    static Vec load(const std::uint8_t* p) noexcept { return vld1q_u8(p); }

    static Mask eq(Vec x, Vec y) noexcept { return vceqq_u8(x, y); }
    static Vec bits_or(Vec x, Vec y) noexcept { return vorrq_u8(x, y); }
    static Mask and_(Mask a, Mask b) noexcept { return vandq_u8(a, b); }
    static Mask or_(Mask a, Mask b) noexcept { return vorrq_u8(a, b); }

    template <int K>
    static Vec shifted(Vec a, Vec b) noexcept {
        return vextq_u8(a, b, K);
    }

    // Byte tallies for count_one, as Sse2's: a subtraction per mask (a set
    // lane is all ones), and one widening sum across the lanes per 255.
    static constexpr bool kTally = true;
    static Vec tally(Vec t, Mask m) noexcept { return vsubq_u8(t, m); }
    static std::size_t tally_sum(Vec t) noexcept { return vaddlvq_u8(t); }
};
static_assert(Vector<Neon>);

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
