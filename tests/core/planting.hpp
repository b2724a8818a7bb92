// Haystacks built by planting needles and decoys into filler bytes, swept over
// every length and every position, so that each block boundary of every
// vector width is crossed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "naive.hpp"
#include "qarvo/search.hpp"

namespace qarvo::test {

// One routine bound to its needle: haystack in, result out.
using Search = std::function<SearchResult(ByteRange)>;

// A byte that occurs nowhere in `needle`, `preferred` if possible. No window
// that contains it can match, so a needle planted into a haystack of it is the
// only occurrence.
inline std::uint8_t filler_for(std::span<const std::uint8_t> needle, std::uint8_t preferred = '.') {
    for (unsigned candidate = preferred; candidate < preferred + 256u; ++candidate) {
        const auto b = static_cast<std::uint8_t>(candidate);
        if (std::find(needle.begin(), needle.end(), b) == needle.end()) {
            return b;
        }
    }
    ADD_FAILURE() << "a needle of 256 distinct bytes has no filler";
    return preferred;
}

inline void plant(std::span<std::uint8_t> haystack, std::size_t at,
                  std::span<const std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), haystack.begin() + static_cast<std::ptrdiff_t>(at));
}

// For the haystack length n: not found in filler alone, and found at p with
// the needle planted at p alone, for every p.
inline void expect_found_at_every_position_of(const Search& search,
                                              std::span<const std::uint8_t> needle, std::size_t n,
                                              std::uint8_t filler) {
    Bytes haystack(n, filler);
    ASSERT_EQ(search(range_of(haystack)), SearchResult::not_found()) << "length " << n;
    for (std::size_t p = 0; p + needle.size() <= n; ++p) {
        plant(haystack, p, needle);
        ASSERT_EQ(search(range_of(haystack)), SearchResult::at(p))
            << "length " << n << ", needle of " << needle.size() << " at " << p;
        std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), needle.size(), filler);
    }
}

// The same for every haystack length 0 .. max_length.
inline void expect_found_at_every_position(const Search& search,
                                           std::span<const std::uint8_t> needle,
                                           std::size_t max_length, std::uint8_t filler) {
    for (std::size_t n = 0; n <= max_length; ++n) {
        expect_found_at_every_position_of(search, needle, n, filler);
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

// The naive scan a test compares against: naive_find, or naive_rfind for the
// searches from the end.
using Reference = SearchResult (*)(std::span<const std::uint8_t>, std::span<const std::uint8_t>);

// `first` planted at f and `second` at t, for every f and t with
// f + |first| <= t and t + |second| <= n: the result is the naive scan's
// (`reference`) for `needle`. With a decoy (a near miss) as `first` and the needle as `second`,
// this puts the decoy in the same vector, the same block, an earlier block of
// the same step and the other mask word of every variant.
inline void expect_pairs_match_naive(const Search& search, std::span<const std::uint8_t> first,
                                     std::span<const std::uint8_t> second,
                                     std::span<const std::uint8_t> needle, std::size_t n,
                                     std::uint8_t filler, Reference reference = naive_find) {
    Bytes haystack(n, filler);
    for (std::size_t f = 0; f + first.size() + second.size() <= n; ++f) {
        plant(haystack, f, first);
        for (std::size_t t = f + first.size(); t + second.size() <= n; ++t) {
            plant(haystack, t, second);
            ASSERT_EQ(search(range_of(haystack)), reference(haystack, needle))
                << "length " << n << ", first planted at " << f << ", second at " << t;
            std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(t), second.size(), filler);
        }
        std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(f), first.size(), filler);
    }
}

}  // namespace qarvo::test
