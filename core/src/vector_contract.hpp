// The interface every vector backend provides, checked by the compiler: each
// vector_*.hpp ends with static_assert(Vector<Its>), so a backend that lacks
// an operation, or gives one another type, fails where it is defined rather
// than deep inside an algorithm. The algorithms (one.hpp, two.hpp, three.hpp,
// n.hpp) use nothing else, so a backend differs from another in nothing but
// its vector operations.
// Reached through vector.hpp, which checks QARVO_ISA_NAMESPACE first.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// A backend is a struct of static functions over one vector width W:
//   kWidth                     lanes per vector (bytes): 16, 32 or 64
//   kAlignLoads                whether long searches move their loads onto
//                              W-aligned addresses (aligned_restart)
//   Vec, Mask                  a vector of bytes; a compare result
//   splat(b)                   b in every lane
//   load(p)                    the W bytes p[0 .. W-1]; unaligned, W readable bytes
//   eq(x, y)                   lanes equal in x and y
//   bits_or(x, y)              the lanes' bitwise OR, a vector (the
//                              case-insensitive filter, folded.hpp)
//   and_(m1, m2), or_(m1, m2)  lane-wise AND / OR of two masks
//   any(m)                     some lane is set
//   lowest(m)                  index of the lowest set lane; precondition any(m)
//   shifted<K>(a, b)           lanes K .. K+W-1 of the concatenation a:b, for
//                              0 < K < 16 (bytes_after checks K)
//   LaneSet, lanes(m)          the set lanes of a mask, to walk in increasing order
//   empty(s), first(s), drop_first(s)
//   highest(m), last(s), drop_last(s)
//                              the same walk in decreasing order, for the
//                              searches from the end (reverse_*.hpp)
//   count(s)                   the number of set lanes (count_one.hpp)
template <class V>
concept Vector = (V::kWidth == 16 || V::kWidth == 32 || V::kWidth == 64) &&
                 requires(const std::uint8_t* p, std::uint8_t b, typename V::Vec v,
                          typename V::Mask m, typename V::LaneSet s) {
    { V::kAlignLoads } -> std::convertible_to<bool>;
    { V::splat(b) }
    noexcept->std::same_as<typename V::Vec>;
    { V::load(p) }
    noexcept->std::same_as<typename V::Vec>;
    { V::eq(v, v) }
    noexcept->std::same_as<typename V::Mask>;
    { V::bits_or(v, v) }
    noexcept->std::same_as<typename V::Vec>;
    { V::and_(m, m) }
    noexcept->std::same_as<typename V::Mask>;
    { V::or_(m, m) }
    noexcept->std::same_as<typename V::Mask>;
    { V::any(m) }
    noexcept->std::same_as<bool>;
    { V::lowest(m) }
    noexcept->std::same_as<std::size_t>;
    { V::template shifted<1>(v, v) }
    noexcept->std::same_as<typename V::Vec>;
    { V::template shifted<15>(v, v) }
    noexcept->std::same_as<typename V::Vec>;
    { V::lanes(m) }
    noexcept->std::same_as<typename V::LaneSet>;
    { V::empty(s) }
    noexcept->std::same_as<bool>;
    { V::first(s) }
    noexcept->std::same_as<std::size_t>;
    { V::drop_first(s) }
    noexcept->std::same_as<typename V::LaneSet>;
    { V::highest(m) }
    noexcept->std::same_as<std::size_t>;
    { V::last(s) }
    noexcept->std::same_as<std::size_t>;
    { V::drop_last(s) }
    noexcept->std::same_as<typename V::LaneSet>;
    { V::count(s) }
    noexcept->std::same_as<std::size_t>;
}
&&
    // Optional: any_of_four(a, b, c, d), whether any lane of four masks is
    // set (any_of_four in vector.hpp).
    (
        !requires(typename V::Mask m) { V::any_of_four(m, m, m, m); } ||
        requires(typename V::Mask m) {
            { V::any_of_four(m, m, m, m) }
            noexcept->std::same_as<bool>;
        }) &&
    // Optional: byte differences (has_byte_diff): diff(x, a),
    // pair_diff(x, a, y, b), min_diff(d, e) and zero_lanes(d).
    (
        !requires { V::kByteDiff; } ||
        requires(typename V::Vec v) {
            { V::diff(v, v) }
            noexcept->std::same_as<typename V::Vec>;
            { V::pair_diff(v, v, v, v) }
            noexcept->std::same_as<typename V::Vec>;
            { V::min_diff(v, v) }
            noexcept->std::same_as<typename V::Vec>;
            { V::zero_lanes(v) }
            noexcept->std::same_as<typename V::Mask>;
        }) &&
    // Optional: byte tallies (has_tally): tally(t, m) and tally_sum(t).
    (
        !requires { V::kTally; } ||
        requires(typename V::Vec v, typename V::Mask m) {
            { V::tally(v, m) }
            noexcept->std::same_as<typename V::Vec>;
            { V::tally_sum(v) }
            noexcept->std::same_as<std::size_t>;
        }) &&
    // Optional: loads of the first lanes only (has_masked_load):
    // first_lanes(count) and load_first(p, count).
    (
        !requires { V::kMaskedLoad; } ||
        requires(const std::uint8_t* p, std::size_t count) {
            { V::first_lanes(count) }
            noexcept->std::same_as<typename V::Mask>;
            { V::load_first(p, count) }
            noexcept->std::same_as<typename V::Vec>;
        });

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
