// Masks of 16 lanes read as two little-endian 64-bit words, the form in which
// the scalar emulation and the Advanced SIMD backend walk their lanes. The
// lane operations of those backends, written once, as bit_lanes.hpp does for
// the one-bit-per-lane masks; each backend says how its Mask becomes the two
// words (ToWords: a function object with a Mask type).
// Reached through vector.hpp, which checks QARVO_ISA_NAMESPACE first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The set lanes of a 16-lane mask: lanes 0 to 7 in `lo` (lane k in bits
// 8k .. 8k+7), lanes 8 to 15 in `hi`. A set lane is all ones, so a word's
// trailing-zero count is a multiple of 8.
struct WordLanes {
    std::uint64_t lo;
    std::uint64_t hi;
};

// The vector types travel as ToWords::Mask, not as template arguments:
// GCC drops their alignment attributes there (-Wignored-attributes).
template <class ToWords>
struct WordLaneOps {
    using Mask = typename ToWords::Mask;
    using LaneSet = WordLanes;

    static LaneSet lanes(Mask m) noexcept { return ToWords{}(m); }
    static bool any(Mask m) noexcept { return !empty(lanes(m)); }
    // Precondition: any(m).
    static std::size_t lowest(Mask m) noexcept { return first(lanes(m)); }

    static bool empty(LaneSet s) noexcept { return (s.lo | s.hi) == 0; }
    // The low word first, then the high word. Precondition: !empty(s). The
    // builtin, not std::countr_zero, which must also answer for 0.
    static std::size_t first(LaneSet s) noexcept {
        if (s.lo != 0) {
            return static_cast<std::size_t>(__builtin_ctzll(s.lo)) / 8;
        }
        return 8 + static_cast<std::size_t>(__builtin_ctzll(s.hi)) / 8;
    }
    // Clears all eight bits of the lowest set lane. Precondition: !empty(s).
    static LaneSet drop_first(LaneSet s) noexcept {
        if (s.lo != 0) {
            s.lo &= ~(std::uint64_t{0xFF} << __builtin_ctzll(s.lo));
        } else {
            s.hi &= ~(std::uint64_t{0xFF} << __builtin_ctzll(s.hi));
        }
        return s;
    }

    // The same walk downward, for the searches from the end (reverse_*.hpp):
    // the high word first. A set lane is all ones, so the highest set bit of
    // a word is bit 8k + 7 of its highest set lane k. Precondition: any(m).
    static std::size_t highest(Mask m) noexcept { return last(lanes(m)); }
    // Precondition: !empty(s).
    static std::size_t last(LaneSet s) noexcept {
        if (s.hi != 0) {
            return 8 + (63 - static_cast<std::size_t>(__builtin_clzll(s.hi))) / 8;
        }
        return (63 - static_cast<std::size_t>(__builtin_clzll(s.lo))) / 8;
    }
    // Clears all eight bits of the highest set lane. Precondition: !empty(s).
    static LaneSet drop_last(LaneSet s) noexcept {
        if (s.hi != 0) {
            s.hi &= ~(std::uint64_t{0xFF} << ((63 - __builtin_clzll(s.hi)) & ~7));
        } else {
            s.lo &= ~(std::uint64_t{0xFF} << ((63 - __builtin_clzll(s.lo)) & ~7));
        }
        return s;
    }
    // The number of set lanes (count_one.hpp): eight bits each.
    static std::size_t count(LaneSet s) noexcept {
        return static_cast<std::size_t>(__builtin_popcountll(s.lo) + __builtin_popcountll(s.hi)) /
               8;
    }
};

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
