// Masks of 16 lanes read as two little-endian 64-bit words, the form in which
// the scalar emulation and the Advanced SIMD backend answer any() and lowest().
#pragma once

#ifndef QARVO_ISA_NAMESPACE
#error "Define QARVO_ISA_NAMESPACE (one name per variant TU) before including the search core"
#endif

#include <cstddef>
#include <cstdint>

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The set lanes of a 16-lane mask read as two little-endian 64-bit words:
// lanes 0 to 7 in `lo` (lane k in bits 8k .. 8k+7), lanes 8 to 15 in `hi`.
// A set lane is all ones, so a word's trailing-zero count is a multiple of 8.
struct WordLanes {
    std::uint64_t lo;
    std::uint64_t hi;
};

inline bool words_any(WordLanes w) noexcept {
    return (w.lo | w.hi) != 0;
}

// Lowest set lane: the low word first, then the high word.
// Precondition: words_any(w).
inline std::size_t words_lowest(WordLanes w) noexcept {
    if (w.lo != 0) {
        return static_cast<std::size_t>(__builtin_ctzll(w.lo)) / 8;
    }
    return 8 + static_cast<std::size_t>(__builtin_ctzll(w.hi)) / 8;
}

// Clears all eight bits of the lowest set lane. Precondition: words_any(w).
inline WordLanes words_drop_lowest(WordLanes w) noexcept {
    if (w.lo != 0) {
        w.lo &= ~(std::uint64_t{0xFF} << __builtin_ctzll(w.lo));
    } else {
        w.hi &= ~(std::uint64_t{0xFF} << __builtin_ctzll(w.hi));
    }
    return w;
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
