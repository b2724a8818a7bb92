// The worst-case guard of find_n: a linear-time search for the rare inputs on
// which checking candidate after candidate would cost n * m comparisons.
#pragma once

#include "qarvo/search.hpp"

namespace qarvo::detail {

// Two-Way search (two_way.hpp), first occurrence of `needle` in `haystack`.
//
// Defined out of line in a translation unit built for the baseline CPU, and
// deliberately outside the per-variant namespaces: the variant TUs (some built
// with -mavx2 or -mavx512bw) call this one copy instead of instantiating the
// inline header themselves, which would give the linker an AVX copy of it to
// pick for everyone.
SearchResult two_way_search(ByteRange haystack, ByteRange needle) noexcept;

// The same for the last occurrence (two_way_rfind), the guard behind rfind_n.
SearchResult two_way_search_last(ByteRange haystack, ByteRange needle) noexcept;

// The same two searches with ASCII letters folded (fold.hpp): the guard
// behind find_folded and rfind_folded.
SearchResult two_way_search_folded(ByteRange haystack, ByteRange needle) noexcept;
SearchResult two_way_search_last_folded(ByteRange haystack, ByteRange needle) noexcept;

// The needle's critical factorization (two_way.hpp), for MatchScan, which
// needs the needle's period: here, so that Two-Way's code has one home.
struct NeedlePeriod {
    std::size_t period;  // the period of the needle when `periodic`
    bool periodic;       // else the smallest period exceeds half the needle
};
// With `folded`, that of the needle with its ASCII letters folded.
// Precondition: needle.size >= 1.
NeedlePeriod needle_period(ByteRange needle, bool folded = false) noexcept;

}  // namespace qarvo::detail
