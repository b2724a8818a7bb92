// The AVX-512 variant as it runs on CPUs that execute 512-bit operations as
// halves: on a long haystack find_n examines the first positions itself,
// stopping early at a few false candidates, and hands the rest to the AVX2
// variant. The hand-over is where a position could be skipped, reported at
// the wrong offset, or read past: every test here plants around it and
// compares with the naive scan. The table runs on any CPU with AVX-512, so these
// tests do not depend on which one CI gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "guarded_page.hpp"
#include "naive.hpp"
#include "planting.hpp"
#include "qarvo/backend.hpp"
#include "variants.hpp"

namespace qarvo::test {
namespace {

#if QARVO_HAVE_AVX512BW

using detail::avx512bw_on_halves_routines;
using detail::kPlainPrefix;
using detail::kRareAnchorsFrom;

class Halves : public ::testing::Test {
protected:
    void SetUp() override {
        if (routines_for(Backend::avx512bw) == nullptr) {
            GTEST_SKIP() << "this CPU does not run the AVX-512 variant";
        }
    }

    static SearchResult find_n(std::span<const std::uint8_t> haystack,
                               std::span<const std::uint8_t> needle) {
        return avx512bw_on_halves_routines.find_n(range_of(haystack), range_of(needle));
    }

    // n bytes of '.' that end at a guard page, with the needle planted at
    // each of `starts` in turn (at none, for a start past n - m), against
    // the naive scan.
    static void expect_naive_before_guard(std::size_t n, const Bytes& needle,
                                          std::initializer_list<std::size_t> starts) {
        const std::size_t m = needle.size();
        GuardedPage page((n + 4095) / 4096 + 1);
        ASSERT_TRUE(page.ok());
        Bytes bytes(n, '.');
        for (const std::size_t at : starts) {
            if (at + m <= n) {
                plant(bytes, at, needle);
            }
            const std::span<const std::uint8_t> haystack = page.at_end(bytes);
            ASSERT_EQ(find_n(haystack, needle), naive_find(haystack, needle))
                << "length " << n << ", needle of " << m << " at " << at;
            std::fill(bytes.begin(), bytes.end(), '.');
        }
    }
};

// A needle of m bytes that no other window of the filler matches, with a
// rare byte in its middle and common ones elsewhere, so that the filters
// of both variants have something to find.
Bytes needle_of(std::size_t m) {
    Bytes needle(m, 'e');
    needle[m / 2] = 'Q';
    needle.back() = 'z';
    return needle;
}

TEST_F(Halves, FindNFindsTheOnlyMatchAroundTheHandOver) {
    // Lengths on both sides of the size the hand-over starts at; the first
    // part examines kPlainPrefix positions when nothing stops it early.
    for (const std::size_t n : {kRareAnchorsFrom - 1, kRareAnchorsFrom, kRareAnchorsFrom + 1,
                                3 * kRareAnchorsFrom + 17}) {
        for (const std::size_t m : {4u, 5u, 16u, 33u, 64u, 600u}) {
            const Bytes needle = needle_of(m);
            Bytes haystack(n, '.');
            ASSERT_EQ(find_n(haystack, needle), SearchResult::not_found()) << n << " " << m;
            std::vector<std::size_t> starts{0, n - m};
            for (std::size_t p = kPlainPrefix - 70; p <= kPlainPrefix + 70; ++p) {
                starts.push_back(p);
            }
            for (const std::size_t p : starts) {
                plant(haystack, p, needle);
                ASSERT_EQ(find_n(haystack, needle), SearchResult::at(p))
                    << "length " << n << ", needle of " << m << " at " << p;
                std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
            }
        }
    }
}

TEST_F(Halves, FindNHandsOverAfterTheFalseCandidatesOfTheFirstPart) {
    // Decoys that the first part's filter (first, second and last byte)
    // takes for candidates; after a few it hands over at the position after
    // the last one it compared. The needle is planted at every position
    // from before the last decoy to well after it, with 1 to 20 decoys.
    const std::size_t n = kRareAnchorsFrom + 5;
    for (const std::size_t m : {4u, 9u, 64u}) {
        const Bytes needle = needle_of(m);
        Bytes decoy = needle;
        decoy[m / 2] = 'e';
        for (const std::size_t decoys : {1u, 7u, 8u, 9u, 20u}) {
            Bytes haystack(n, '.');
            std::size_t after = 0;
            for (std::size_t k = 0; k < decoys; ++k) {
                plant(haystack, 3 + k * (m + 5), decoy);
                after = 3 + k * (m + 5) + m;
            }
            for (std::size_t p = after - m - 1; p <= after + 80; ++p) {
                Bytes planted = haystack;
                plant(planted, p, needle);
                ASSERT_EQ(find_n(planted, needle), naive_find(planted, needle))
                    << "needle of " << m << " at " << p << " after " << decoys << " decoys";
            }
        }
    }
}

TEST_F(Halves, FindNReturnsTheFirstOfMatchesOnBothSides) {
    // A match that the first part examines and one the second part does:
    // the first wins, wherever the hand-over falls between them.
    const std::size_t n = kRareAnchorsFrom + 100;
    for (const std::size_t m : {4u, 16u, 64u}) {
        const Bytes needle = needle_of(m);
        for (const std::size_t first : {kPlainPrefix - m, kPlainPrefix - 1, kPlainPrefix}) {
            Bytes haystack(n, '.');
            plant(haystack, first, needle);
            plant(haystack, first + m, needle);
            plant(haystack, n - m, needle);
            ASSERT_EQ(find_n(haystack, needle), SearchResult::at(first))
                << "needle of " << m << ", first at " << first;
        }
    }
}

TEST_F(Halves, FindNReadsNothingPastTheHaystack) {
    // The haystack ends at a guard page; the needle is absent, planted at
    // the very end, or planted across the hand-over.
    for (const std::size_t m : {std::size_t{4}, std::size_t{17}, std::size_t{64}}) {
        for (const std::size_t n : {kRareAnchorsFrom, kRareAnchorsFrom + 63}) {
            expect_naive_before_guard(n, needle_of(m), {n, n - m, kPlainPrefix - 1});
            ASSERT_FALSE(HasFatalFailure());
        }
    }
}

TEST_F(Halves, FindNOfNeedlesNearlyAsLongAsTheHaystack) {
    // Past the first part, the second searches from where it stopped; a
    // needle too long for one AVX2 wide step in what is left (the first
    // part stops after a block or two for such a needle) takes the AVX2
    // variant's whole find_n instead. Needle lengths across that limit,
    // absent, or planted first, last and in between, in a haystack that
    // ends at a guard page; from 256 KiB on, the AVX2 search also limits
    // the stretch it searches before counting a sample to the haystack.
    const auto needle_with_rare = [](std::size_t m, std::size_t rare_at) {
        Bytes needle(m, 'e');
        needle[rare_at] = 'Q';
        needle.back() = 'z';
        return needle;
    };
    const std::size_t n = kRareAnchorsFrom + 100;
    for (std::size_t m = n - 420; m <= n - 100; m += 11) {
        expect_naive_before_guard(n, needle_with_rare(m, m / 2), {n, 0, (n - m) / 2, n - m});
        ASSERT_FALSE(HasFatalFailure());
    }
    const std::size_t longer = 300 * 1024;
    for (const std::size_t windows : {100u, 500u, 1000u}) {
        const std::size_t m = longer - windows + 1;
        expect_naive_before_guard(longer, needle_with_rare(m, m - 2),
                                  {longer, 0, windows / 2, windows - 1});
        ASSERT_FALSE(HasFatalFailure());
    }
}

#endif

}  // namespace
}  // namespace qarvo::test
