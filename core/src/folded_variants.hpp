// The case-insensitive searches of each variant compiled into this build,
// <variant>_find_folded and <variant>_rfind_folded, defined in
// variant_<variant>_folded.cpp and entered in the variant's routine table
// (variant_<variant>.cpp).
#pragma once

#include "qarvo/search.hpp"
#include "variant_requirements.hpp"

namespace qarvo::detail {

#define QARVO_DECLARE_FOLDED(name, cpu_check)                                       \
    SearchResult name##_find_folded(ByteRange haystack, ByteRange needle) noexcept; \
    SearchResult name##_rfind_folded(ByteRange haystack, ByteRange needle) noexcept;
QARVO_FOR_EACH_VARIANT(QARVO_DECLARE_FOLDED)
#undef QARVO_DECLARE_FOLDED

}  // namespace qarvo::detail
