// find_n's linear bound, on every variant: on hostile inputs (runs of one
// byte against a needle that differs from the run in one byte, at each
// position; periodic haystacks; candidates at nearly every position that
// fail late) the bytes its full comparisons and its Two-Way fallback compare
// stay within kBytesPerByte * (n + m). The probes of the core's test build
// count them (probe.hpp); results are checked against Two-Way, itself tested
// against the naive scan (two_way_test.cpp), since the naive scan is
// quadratic on exactly these inputs.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "backend_fixture.hpp"
#include "probe.hpp"
#include "two_way.hpp"

namespace qarvo::test {
namespace {

// Bytes compared per haystack and needle byte, at most: the budget grants
// four per byte advanced (VerifyBudget) twice at most, the plain prefix a
// few hundred, and Two-Way about two per haystack byte.
constexpr std::size_t kBytesPerByte = 16;

// The text repeated to n bytes.
Bytes repeated(std::string_view text, std::size_t n) {
    Bytes out(n);
    for (std::size_t k = 0; k < n; ++k) {
        out[k] = static_cast<std::uint8_t>(text[k % text.size()]);
    }
    return out;
}

class LinearBound : public EveryBackend {
protected:
    // One search, its result against Two-Way's, and what it compared.
    void expect_linear(const Bytes& haystack, const Bytes& needle, const std::string& what) const {
        detail::g_search_probe = {};
        const SearchResult result = routines().find_n(range_of(haystack), range_of(needle));
        const std::size_t compared = detail::g_search_probe.compared;
        ASSERT_EQ(result, detail::two_way_find(range_of(haystack), range_of(needle))) << what;
        const std::size_t bound = kBytesPerByte * (haystack.size() + needle.size());
        ASSERT_LE(compared, bound)
            << what << ": " << compared << " bytes compared, " << haystack.size()
            << "-byte haystack, " << needle.size() << "-byte needle";
    }
};

// Haystack lengths: one vector step, the short paths, around the lengths from
// which the wide variants rank and count, and beyond.
constexpr std::size_t kLengths[] = {100, 1000, 5000, 17000, 70000};

TEST_P(LinearBound, LinesWhoseRarePairTheRecountFiltersOn) {
    // Every needle byte common, one adjacent pair absent: the recount
    // filters on that pair (filter_choice_test.cpp), here with needles that
    // end in near misses of the lines, so candidates of the pair filter
    // fail late.
    for (const std::size_t n : kLengths) {
        const Bytes haystack =
            repeated("2025-06-24 14:36:25 status installed libc-bin:amd64 2.36\n", n);
        for (const std::string_view needle :
             {"nstalted", "status instaxled libc-bin:amd64 2.36\n2025-06-24 14:36:25 status"}) {
            expect_linear(haystack, Bytes(needle.begin(), needle.end()),
                          "n = " + std::to_string(n) + ", needle " + std::string(needle));
            ASSERT_FALSE(HasFatalFailure());
        }
    }
}

TEST_P(LinearBound, RunsOfOneByteAgainstANeedleDifferingInOneByte) {
    for (const std::size_t n : kLengths) {
        const Bytes haystack(n, 'a');
        for (const std::size_t m : {4u, 5u, 9u, 16u, 17u, 33u, 64u, 65u, 200u}) {
            if (m > n) {
                continue;
            }
            for (std::size_t k = 0; k < m; k += (m <= 17 ? 1 : m / 9)) {
                for (const std::size_t at : {k, m - 1 - k}) {
                    Bytes needle(m, 'a');
                    needle[at] = 'b';
                    expect_linear(haystack, needle,
                                  "run of " + std::to_string(n) + ", 'b' at " + std::to_string(at));
                    ASSERT_FALSE(HasFatalFailure());
                }
            }
        }
    }
}

TEST_P(LinearBound, PeriodicHaystacksAgainstNeedlesOfTheirPeriod) {
    // The needle is the period repeated with one byte replaced by another
    // byte of the period, so no needle byte is rare in the haystack: every
    // position in step with the period is a candidate of any filter, and
    // fails at the replaced byte, late or early.
    for (const std::string_view period : {"ab", "aab", "qaz", "abcdefg", "the quick fox "}) {
        for (const std::size_t n : kLengths) {
            const Bytes haystack = repeated(period, n);
            for (const std::size_t m : {4u, 8u, 31u, 64u, 200u}) {
                if (m > n) {
                    continue;
                }
                for (const std::size_t at : {m - 1, m - 2, m / 2, std::size_t{1}}) {
                    Bytes needle = repeated(period, m);
                    needle[at] = static_cast<std::uint8_t>(period[(at + 1) % period.size()]);
                    if (needle[at] == haystack[at]) {
                        continue;  // a period of one distinct byte at `at`
                    }
                    expect_linear(haystack, needle,
                                  std::string(period) + " to " + std::to_string(n) + ", m " +
                                      std::to_string(m) + ", changed at " + std::to_string(at));
                    ASSERT_FALSE(HasFatalFailure());
                }
            }
        }
    }
}

TEST_P(LinearBound, LongHaystacksThatCountTheirStart) {
    // From 256 KiB on, the wide variants search a stretch, count it and may
    // choose again: the bound holds across that too, for a run and a period.
    const std::size_t n = 300 * 1024;
    for (const std::string_view period : {"a", "qaz"}) {
        const Bytes haystack = repeated(period, n);
        for (const std::size_t m : {9u, 100u}) {
            Bytes needle = repeated(period, m);
            needle[m - 1] = period.size() == 1 ? 'b' : static_cast<std::uint8_t>(period[m % 3]);
            expect_linear(haystack, needle, std::string(period) + ", m " + std::to_string(m));
            ASSERT_FALSE(HasFatalFailure());
        }
    }
}

QARVO_FOR_EVERY_BACKEND(LinearBound);

}  // namespace
}  // namespace qarvo::test
