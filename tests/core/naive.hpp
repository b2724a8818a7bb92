// The reference every test compares against: the needle compared at each
// offset 0, 1, ..., n - m in turn, and helpers shared by the core tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "qarvo/search.hpp"

namespace qarvo::test {

using Bytes = std::vector<std::uint8_t>;

inline SearchResult naive_find(std::span<const std::uint8_t> haystack,
                               std::span<const std::uint8_t> needle) {
    if (needle.size() > haystack.size()) {
        return SearchResult::not_found();
    }
    for (std::size_t p = 0; p + needle.size() <= haystack.size(); ++p) {
        bool equal = true;
        for (std::size_t k = 0; k < needle.size() && equal; ++k) {
            equal = haystack[p + k] == needle[k];
        }
        if (equal) {
            return SearchResult::at(p);
        }
    }
    return SearchResult::not_found();
}

// The same from the other end: the needle compared at each offset n - m,
// n - m - 1, ..., 0 in turn; an empty needle is found at n.
inline SearchResult naive_rfind(std::span<const std::uint8_t> haystack,
                                std::span<const std::uint8_t> needle) {
    if (needle.size() > haystack.size()) {
        return SearchResult::not_found();
    }
    for (std::size_t p = haystack.size() - needle.size() + 1; p-- > 0;) {
        bool equal = true;
        for (std::size_t k = 0; k < needle.size() && equal; ++k) {
            equal = haystack[p + k] == needle[k];
        }
        if (equal) {
            return SearchResult::at(p);
        }
    }
    return SearchResult::not_found();
}

// The offsets holding `byte`, one by one.
inline std::size_t naive_count(std::span<const std::uint8_t> haystack, std::uint8_t byte) {
    std::size_t count = 0;
    for (const std::uint8_t b : haystack) {
        count += b == byte ? 1 : 0;
    }
    return count;
}

inline ByteRange range_of(std::span<const std::uint8_t> bytes) {
    return ByteRange{bytes.data(), bytes.size()};
}

}  // namespace qarvo::test
