// What the build and the process chose: the baseline variant the build was
// configured for (so a run can never silently test another), the variant
// behind the public find_* functions, and the variant list itself.
#include "qarvo/backend.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string_view>

#include "backend_fixture.hpp"
#include "naive.hpp"
#include "qarvo/search.hpp"

namespace qarvo::test {
namespace {

TEST(Backend, BaselineIsTheOneTheBuildWasConfiguredFor) {
    EXPECT_EQ(backend_name(baseline_backend()), std::string_view(QARVO_EXPECTED_BASELINE));
}

TEST(Backend, SupportedListStartsWithScalarAndHoldsTheBaseline) {
    const auto supported = supported_backends();
    ASSERT_FALSE(supported.empty());
    EXPECT_EQ(supported.front(), Backend::scalar);
    EXPECT_NE(std::find(supported.begin(), supported.end(), baseline_backend()), supported.end());
    for (const Backend b : supported) {
        const SearchRoutines* r = routines_for(b);
        ASSERT_NE(r, nullptr) << backend_name(b);
        EXPECT_EQ(r->backend, b);
    }
}

TEST(Backend, UnsupportedVariantsHaveNoRoutines) {
    const auto supported = supported_backends();
    for (const Backend b :
         {Backend::scalar, Backend::sse2, Backend::neon, Backend::avx2, Backend::avx512bw}) {
        if (std::find(supported.begin(), supported.end(), b) == supported.end()) {
            EXPECT_EQ(routines_for(b), nullptr) << backend_name(b);
        }
    }
}

// The variant QARVO_BACKEND names when it is supported, the widest otherwise
// (unset, unknown or unsupported). CI runs this once per variant.
TEST(Backend, ActiveVariantFollowsTheEnvironment) {
    const auto supported = supported_backends();
    Backend expected = supported.back();
    if (const char* requested = std::getenv("QARVO_BACKEND")) {
        for (const Backend b : supported) {
            if (backend_name(b) == requested) {
                expected = b;
            }
        }
    }
    EXPECT_EQ(active_routines().backend, expected)
        << "active " << backend_name(active_routines().backend) << ", expected "
        << backend_name(expected);
    EXPECT_EQ(&active_routines(), routines_for(expected));
}

TEST(Backend, PublicFunctionsGiveTheNaiveResult) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> letter('a', 'b');
    for (std::size_t n = 0; n < 400; ++n) {
        Bytes haystack(n);
        for (auto& b : haystack) {
            b = static_cast<std::uint8_t>(letter(rng));
        }
        const ByteRange h = range_of(haystack);
        for (std::size_t m = 0; m <= 6; ++m) {
            Bytes needle(m);
            for (auto& b : needle) {
                b = static_cast<std::uint8_t>(letter(rng));
            }
            const SearchResult expected = naive_find(haystack, needle);
            ASSERT_EQ(find_n(h, range_of(needle)), expected) << n << ", " << m;
            if (m == 1) {
                ASSERT_EQ(find_one(h, needle[0]), expected) << n;
            } else if (m == 2) {
                ASSERT_EQ(find_two(h, needle[0], needle[1]), expected) << n;
            } else if (m == 3) {
                ASSERT_EQ(find_three(h, needle[0], needle[1], needle[2]), expected) << n;
            }
        }
    }
}

}  // namespace
}  // namespace qarvo::test
