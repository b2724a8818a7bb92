// rfind_two and rfind_three: the last offset p with haystack[p .. p + 1] ==
// (b0, b1), or haystack[p .. p + 2] == (b0, b1, b2).
//
// The walk from the end of rfind_one (reverse_one.hpp) with a needle of two
// or three bytes: each byte compared with the vector loaded one byte further
// than the one before, the compares ANDed, so that lane j of the block at b is
// set when position b + j matches. Unlike find_two and find_three (two.hpp,
// three.hpp, sieve.hpp) they test every needle byte at every position; the
// positions and the order in which they are tested are those of rfind_one.
#pragma once

#include <cstdint>

#include "qarvo/search.hpp"
#include "reverse_one.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

template <class V, class... Narrower>
SearchResult rfind_two(ByteRange haystack, std::uint8_t b0, std::uint8_t b1) noexcept {
    const std::uint8_t bytes[2] = {b0, b1};
    return rfind_short_needle<2, V, Narrower...>(haystack, bytes);
}

template <class V, class... Narrower>
SearchResult rfind_three(ByteRange haystack, std::uint8_t b0, std::uint8_t b1,
                         std::uint8_t b2) noexcept {
    const std::uint8_t bytes[3] = {b0, b1, b2};
    return rfind_short_needle<3, V, Narrower...>(haystack, bytes);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
