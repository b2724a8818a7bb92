// Runs a test suite once per variant that this build and CPU support, calling
// that variant's routines directly (not the process-wide choice).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include "naive.hpp"
#include "qarvo/backend.hpp"
#include "qarvo/search.hpp"

namespace qarvo {

// Lets GoogleTest print results and backends in failure messages.
inline void PrintTo(SearchResult r, std::ostream* os) {
    if (r.found()) {
        *os << "found at " << r.offset();
    } else {
        *os << "not found";
    }
}

inline void PrintTo(Backend b, std::ostream* os) {
    *os << backend_name(b);
}

namespace test {

class EveryBackend : public ::testing::TestWithParam<Backend> {
protected:
    const SearchRoutines& routines() const {
        const SearchRoutines* r = routines_for(GetParam());
        EXPECT_NE(r, nullptr);
        return *r;
    }

    // The routine a needle of this length maps to: find_one/two/three for 1 to
    // 3 bytes, find_n otherwise.
    SearchResult find_by_length(std::span<const std::uint8_t> haystack,
                                std::span<const std::uint8_t> needle) const {
        const SearchRoutines& r = routines();
        const ByteRange h = range_of(haystack);
        switch (needle.size()) {
            case 1:
                return r.find_one(h, needle[0]);
            case 2:
                return r.find_two(h, needle[0], needle[1]);
            case 3:
                return r.find_three(h, needle[0], needle[1], needle[2]);
            default:
                return r.find_n(h, range_of(needle));
        }
    }

    // The reverse routine a needle of this length maps to: rfind_one/two/three
    // for 1 to 3 bytes, rfind_n otherwise.
    SearchResult rfind_by_length(std::span<const std::uint8_t> haystack,
                                 std::span<const std::uint8_t> needle) const {
        const SearchRoutines& r = routines();
        const ByteRange h = range_of(haystack);
        switch (needle.size()) {
            case 1:
                return r.rfind_one(h, needle[0]);
            case 2:
                return r.rfind_two(h, needle[0], needle[1]);
            case 3:
                return r.rfind_three(h, needle[0], needle[1], needle[2]);
            default:
                return r.rfind_n(h, range_of(needle));
        }
    }

    // Checks rfind_n, rfind_one/two/three where the needle length fits, and
    // count_one of a one-byte needle, against the naive scans.
    void expect_reverse_match_naive(std::span<const std::uint8_t> haystack,
                                    std::span<const std::uint8_t> needle) const {
        const SearchResult expected = naive_rfind(haystack, needle);
        ASSERT_EQ(routines().rfind_n(range_of(haystack), range_of(needle)), expected)
            << "rfind_n, haystack " << haystack.size() << " bytes, needle " << needle.size();
        if (needle.size() >= 1 && needle.size() <= 3) {
            ASSERT_EQ(rfind_by_length(haystack, needle), expected)
                << "rfind_one/two/three, haystack " << haystack.size() << " bytes, needle "
                << needle.size();
        }
        if (needle.size() == 1) {
            ASSERT_EQ(routines().count_one(range_of(haystack), needle[0]),
                      naive_count(haystack, needle[0]))
                << "count_one, haystack " << haystack.size() << " bytes";
        }
    }

    // Checks find_n, and find_one/two/three where the needle length fits,
    // against the naive scan.
    void expect_all_match_naive(std::span<const std::uint8_t> haystack,
                                std::span<const std::uint8_t> needle) const {
        const SearchResult expected = naive_find(haystack, needle);
        ASSERT_EQ(routines().find_n(range_of(haystack), range_of(needle)), expected)
            << "find_n, haystack " << haystack.size() << " bytes, needle " << needle.size();
        if (needle.size() >= 1 && needle.size() <= 3) {
            ASSERT_EQ(find_by_length(haystack, needle), expected)
                << "find_one/two/three, haystack " << haystack.size() << " bytes, needle "
                << needle.size();
        }
    }
};

inline std::string backend_test_name(const ::testing::TestParamInfo<Backend>& info) {
    return std::string(backend_name(info.param));
}

}  // namespace test
}  // namespace qarvo

#define QARVO_FOR_EVERY_BACKEND(Suite)                                                            \
    INSTANTIATE_TEST_SUITE_P(Backends, Suite, ::testing::ValuesIn(::qarvo::supported_backends()), \
                             ::qarvo::test::backend_test_name)
