// Masks read as one bit per lane, lane k in bit k: what SSE2 and AVX2 get
// from a movemask and what an AVX-512 compare writes to a mask register.
// The lane operations of those backends, written once; each backend says how
// its Mask becomes the bits (MoveMask: a function object with a Mask type).
// Reached through vector.hpp, which checks QARVO_ISA_NAMESPACE first.
#pragma once

#include <cstddef>

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The vector types travel as MoveMask::Mask, not as template arguments:
// GCC drops their alignment attributes there (-Wignored-attributes). The
// members are always_inline: left to its heuristics, GCC weighs the extra
// layer and lays out the searches' branches unlike the same code written in
// each backend (with it, the SSE2 variant compiles to the same instructions).
template <class MoveMask>
struct BitLanes {
    using Mask = typename MoveMask::Mask;
    using LaneSet = decltype(MoveMask{}(Mask{}));

    [[gnu::always_inline]] static LaneSet lanes(Mask m) noexcept { return MoveMask{}(m); }
    [[gnu::always_inline]] static bool any(Mask m) noexcept { return lanes(m) != 0; }
    // Precondition: any(m).
    [[gnu::always_inline]] static std::size_t lowest(Mask m) noexcept { return first(lanes(m)); }

    [[gnu::always_inline]] static bool empty(LaneSet s) noexcept { return s == 0; }
    // The builtins, not std::countr_zero: that one must answer for s == 0
    // too, which costs a test and a cmov on CPUs without tzcnt.
    [[gnu::always_inline]] static std::size_t first(LaneSet s) noexcept {
        if constexpr (sizeof(LaneSet) <= sizeof(unsigned)) {
            return static_cast<std::size_t>(__builtin_ctz(s));
        } else {
            return static_cast<std::size_t>(__builtin_ctzll(s));
        }
    }
    [[gnu::always_inline]] static LaneSet drop_first(LaneSet s) noexcept { return s & (s - 1); }

    // The same walk downward, for the searches from the end (reverse_*.hpp).
    // Precondition: any(m).
    [[gnu::always_inline]] static std::size_t highest(Mask m) noexcept { return last(lanes(m)); }
    // Precondition: !empty(s).
    [[gnu::always_inline]] static std::size_t last(LaneSet s) noexcept {
        if constexpr (sizeof(LaneSet) <= sizeof(unsigned)) {
            return 8 * sizeof(unsigned) - 1 - static_cast<std::size_t>(__builtin_clz(s));
        } else {
            return 63 - static_cast<std::size_t>(__builtin_clzll(s));
        }
    }
    [[gnu::always_inline]] static LaneSet drop_last(LaneSet s) noexcept {
        return s ^ (LaneSet{1} << last(s));
    }
    // The number of set lanes (count_one.hpp).
    [[gnu::always_inline]] static std::size_t count(LaneSet s) noexcept {
        if constexpr (sizeof(LaneSet) <= sizeof(unsigned)) {
            return static_cast<std::size_t>(__builtin_popcount(s));
        } else {
            return static_cast<std::size_t>(__builtin_popcountll(s));
        }
    }
};

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
