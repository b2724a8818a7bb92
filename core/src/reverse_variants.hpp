// The searches from the end and the counts of each variant compiled into
// this build, <variant>_rfind_one, _rfind_two, _rfind_three, _rfind_n,
// _count_one, and the starts of a short needle, _find_starts and
// _count_starts, defined in variant_<variant>_reverse.cpp and entered in the
// variant's routine table (variant_<variant>.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qarvo/search.hpp"
#include "variant_requirements.hpp"

namespace qarvo::detail {

#define QARVO_DECLARE_REVERSE(name, cpu_check)                                                    \
    SearchResult name##_rfind_one(ByteRange haystack, std::uint8_t needle) noexcept;              \
    SearchResult name##_rfind_two(ByteRange haystack, std::uint8_t b0, std::uint8_t b1) noexcept; \
    SearchResult name##_rfind_three(ByteRange haystack, std::uint8_t b0, std::uint8_t b1,         \
                                    std::uint8_t b2) noexcept;                                    \
    SearchResult name##_rfind_n(ByteRange haystack, ByteRange needle) noexcept;                   \
    std::size_t name##_count_one(ByteRange haystack, std::uint8_t needle) noexcept;               \
    std::size_t name##_find_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor,    \
                                   std::span<std::uint64_t> out) noexcept;                        \
    std::size_t name##_count_starts(ByteRange haystack, ByteRange needle,                         \
                                    StartsCursor& cursor) noexcept;
QARVO_FOR_EACH_VARIANT(QARVO_DECLARE_REVERSE)
#undef QARVO_DECLARE_REVERSE

}  // namespace qarvo::detail
