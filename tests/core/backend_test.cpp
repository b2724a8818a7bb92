// What the build and the process chose: the baseline variant the build was
// configured for (so a run can never silently test another), the variant
// behind the public find_* functions, and the variant list itself.
#include "qarvo/backend.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

#include "backend_fixture.hpp"
#include "naive.hpp"
#include "qarvo/search.hpp"
#include "variants.hpp"

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
    for (const Backend b : kAllBackends) {
        if (std::find(supported.begin(), supported.end(), b) == supported.end()) {
            EXPECT_EQ(routines_for(b), nullptr) << backend_name(b);
        }
    }
}

// The tail of every refusal: the supported variants, as the accepted values.
std::string accepted_tail() {
    std::string names;
    for (const Backend b : supported_backends()) {
        names += (names.empty() ? "" : ", ") + std::string(backend_name(b));
    }
    return "; accepted values: " + names + " (unset: the widest of these)";
}

TEST(Backend, RequestsNamingNoRunnableVariantAreRefused) {
    char buffer[256];
    EXPECT_EQ(backend_refusal(nullptr, buffer), "");
    EXPECT_EQ(backend_refusal("", buffer), "");
    const auto supported = supported_backends();
    for (const Backend b : kAllBackends) {
        const std::string name(backend_name(b));
        if (std::find(supported.begin(), supported.end(), b) != supported.end()) {
            EXPECT_EQ(backend_refusal(name.c_str(), buffer), "") << name;
        } else {
            EXPECT_EQ(backend_refusal(name.c_str(), buffer),
                      "QARVO_BACKEND='" + name + "' is a variant this build or CPU cannot run" +
                          accepted_tail());
        }
    }
    // Near misses are not read as the variant they resemble.
    for (const std::string unknown : {"avx512", "AVX2", "sse2 ", "auto", "no-such-variant"}) {
        EXPECT_EQ(backend_refusal(unknown.c_str(), buffer),
                  "QARVO_BACKEND='" + unknown + "' is not a variant" + accepted_tail());
    }
}

TEST(Backend, RefusalIsCutToItsBuffer) {
    char small[16];
    EXPECT_EQ(backend_refusal("avx512", small), "QARVO_BACKEND='");
    EXPECT_EQ(small[15], '\0');
    const std::string long_value(1000, 'x');
    char buffer[256];
    const std::string_view refusal = backend_refusal(long_value.c_str(), buffer);
    EXPECT_EQ(refusal.size(), sizeof buffer - 1);
    EXPECT_EQ(refusal.substr(0, 20), "QARVO_BACKEND='xxxxx");
}

// `text` as a POSIX extended regular expression that matches only itself.
std::string literally(std::string_view text) {
    std::string pattern;
    for (const char c : text) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern;
}

// The variant QARVO_BACKEND names, the widest when it is unset or empty; a
// value naming none that runs stops the process with the refusal. CI runs
// this once per variant and once with an unknown name.
TEST(Backend, ActiveVariantFollowsTheEnvironment) {
    char buffer[256];
    const std::string_view refusal = backend_refusal(buffer);
    if (!refusal.empty()) {
        EXPECT_DEATH(active_routines(), literally("qarvo: " + std::string(refusal) + "\n"));
        return;
    }
    const auto supported = supported_backends();
    Backend expected = supported.back();
    const char* requested = std::getenv("QARVO_BACKEND");
    for (const Backend b : supported) {
        if (requested != nullptr && backend_name(b) == requested) {
            expected = b;
        }
    }
    EXPECT_EQ(active_routines().backend, expected)
        << "active " << backend_name(active_routines().backend) << ", expected "
        << backend_name(expected);
    // Named, exactly the variant's table. Unset, the widest variant's (with
    // its byte-set extension where the CPU runs one), or a route of two
    // variants whose wide one it is, which only a CPU that runs 512-bit
    // operations as halves takes (halves_test.cpp tests what a route is and
    // which pair the dispatcher joins).
    const SearchRoutines* table = routines_for(expected);
    const bool unset = requested == nullptr || *requested == '\0';
    const SearchRoutines& active = active_routines();
    if (!unset) {
        EXPECT_EQ(&active, table);
        return;
    }
    if (!detail::runs_512_bits_as_halves()) {
        const SearchRoutines* const extended = detail::routines_with_set_extension(expected);
        EXPECT_EQ(&active, extended != nullptr ? extended : table);
        return;
    }
    bool route = false;
    for (const Backend half : supported) {
        route = route || &active == detail::routines_handing_over(expected, half);
    }
    EXPECT_TRUE(route) << "the active table is neither the widest variant's nor a route from it";
    EXPECT_TRUE(detail::runs_512_bits_as_halves());
}

TEST(Backend, PublicFunctionsGiveTheNaiveResult) {
    char buffer[256];
    if (!backend_refusal(buffer).empty()) {
        GTEST_SKIP() << "QARVO_BACKEND is refused; ActiveVariantFollowsTheEnvironment checks how";
    }
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
