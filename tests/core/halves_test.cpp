// Routes of two variants (halves.cpp): one variant's table with its find_n
// replaced by a hand-over, on long haystacks, from its plain prefix to the
// other's ranked search. The dispatcher takes one on CPUs that execute
// 512-bit operations as halves; here every pair of supported variants that
// have the pieces is composed and tested, so the hand-over runs on any CPU
// with a wide variant, not only where the dispatcher would take it. The
// hand-over is where a position could be skipped, reported at the wrong
// offset, or read past: every search here plants around it and compares
// with the naive scan. The entries routed by length (find_one, find_two, find_three,
// the searches from the end, count_one, the case-insensitive searches) are
// searched on both sides of their lengths. Also the composition itself: the composed table is the
// wide table in every other entry, and the pair the dispatcher joins is
// chosen by the variants' widths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "naive.hpp"
#include "planting.hpp"
#include "qarvo/backend.hpp"
#include "variants.hpp"

namespace qarvo::test {
namespace {

using detail::kPlainPrefix;
using detail::kRareAnchorsFrom;
using detail::routines_handing_over;

// A wide variant and the one it hands long haystacks over to.
using Pair = std::pair<Backend, Backend>;

// Every ordered pair of supported variants that routines_handing_over joins.
std::vector<Pair> composable_pairs() {
    std::vector<Pair> pairs;
    for (const Backend wide : supported_backends()) {
        for (const Backend half : supported_backends()) {
            if (routines_handing_over(wide, half) != nullptr) {
                pairs.emplace_back(wide, half);
            }
        }
    }
    return pairs;
}

std::string pair_name(const ::testing::TestParamInfo<Pair>& info) {
    return std::string(backend_name(info.param.first)) + "_to_" +
           std::string(backend_name(info.param.second));
}

// A needle of m bytes that no other window of the filler matches, with a
// rare byte in its middle and common ones elsewhere, so that the filters
// of both variants have something to find.
Bytes needle_of(std::size_t m) {
    Bytes needle(m, 'e');
    needle[m / 2] = 'Q';
    needle.back() = 'z';
    return needle;
}

class Halves : public ::testing::TestWithParam<Pair> {
protected:
    static const SearchRoutines& table() {
        const SearchRoutines* composed = routines_handing_over(GetParam().first, GetParam().second);
        EXPECT_NE(composed, nullptr);
        return *composed;
    }

    static SearchResult find_n(std::span<const std::uint8_t> haystack,
                               std::span<const std::uint8_t> needle) {
        return table().find_n(range_of(haystack), range_of(needle));
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

TEST_P(Halves, FindNFindsTheOnlyMatchAroundTheHandOver) {
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

TEST_P(Halves, FindNHandsOverAfterTheFalseCandidatesOfTheFirstPart) {
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

TEST_P(Halves, FindNReturnsTheFirstOfMatchesOnBothSides) {
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

TEST_P(Halves, FindNReadsNothingPastTheHaystack) {
    // The haystack ends at a guard page; the needle is absent, planted at
    // the very end, or planted across the hand-over.
    for (const std::size_t m : {std::size_t{4}, std::size_t{17}, std::size_t{64}}) {
        for (const std::size_t n : {kRareAnchorsFrom, kRareAnchorsFrom + 63}) {
            expect_naive_before_guard(n, needle_of(m), {n, n - m, kPlainPrefix - 1});
            ASSERT_FALSE(HasFatalFailure());
        }
    }
}

TEST_P(Halves, FindNOfNeedlesNearlyAsLongAsTheHaystack) {
    // Past the first part, the second searches from where it stopped; a
    // needle too long for one wide step of the second variant in what is
    // left (the first part stops after a block or two for such a needle)
    // takes that variant's whole find_n instead. Needle lengths across that limit,
    // absent, or planted first, last and in between, in a haystack that
    // ends at a guard page; from 256 KiB on, the ranked search also limits
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

TEST_P(Halves, ComposedTableIsTheWideTableButTheRoutedEntries) {
    // Every entry, whatever SearchRoutines holds, is the wide variant's but
    // find_n and the entries routed by length: the table is compared as
    // bytes with the wide one after taking those from it (both are static,
    // so their padding is zero).
    const SearchRoutines* wide = routines_for(GetParam().first);
    ASSERT_NE(wide, nullptr);
    const SearchRoutines& composed = table();
    EXPECT_NE(composed.find_n, wide->find_n);
    EXPECT_EQ(composed.backend, wide->backend);
    SearchRoutines expected;
    std::memcpy(&expected, wide, sizeof expected);
    expected.find_n = composed.find_n;
    expected.find_one = composed.find_one;
    expected.find_two = composed.find_two;
    expected.find_three = composed.find_three;
    expected.rfind_one = composed.rfind_one;
    expected.rfind_two = composed.rfind_two;
    expected.rfind_three = composed.rfind_three;
    expected.rfind_n = composed.rfind_n;
    expected.count_one = composed.count_one;
    expected.find_folded = composed.find_folded;
    expected.rfind_folded = composed.rfind_folded;
    EXPECT_EQ(std::memcmp(&expected, &composed, sizeof expected), 0);
    for (const bool same :
         {composed.find_one == wide->find_one, composed.find_two == wide->find_two,
          composed.find_three == wide->find_three, composed.rfind_one == wide->rfind_one,
          composed.rfind_two == wide->rfind_two, composed.rfind_three == wide->rfind_three,
          composed.rfind_n == wide->rfind_n, composed.count_one == wide->count_one,
          composed.find_folded == wide->find_folded, composed.rfind_folded == wide->rfind_folded}) {
        EXPECT_FALSE(same) << "an entry routed by length is the wide variant's own";
    }
    // Made once: the same table on every call.
    EXPECT_EQ(&composed, routines_handing_over(GetParam().first, GetParam().second));
}

TEST_P(Halves, ShortHaystacksAndNeedlesStayWithTheWideVariant) {
    // Below kRareAnchorsFrom bytes, or with needles of 1 to 3 bytes, the
    // hand-over answers as the wide variant's own find_n does, across the
    // block boundaries of short haystacks and at the threshold.
    const SearchRoutines* wide = routines_for(GetParam().first);
    ASSERT_NE(wide, nullptr);
    for (const std::size_t m : {1u, 2u, 3u, 4u, 9u}) {
        Bytes needle = needle_of(std::max<std::size_t>(m, 4));
        needle.resize(m);
        for (const std::size_t n : {m, m + 63, std::size_t{4096}, kRareAnchorsFrom - 1}) {
            Bytes haystack(n, '.');
            for (std::size_t p = 0; p + m <= n; p += (p < 300 ? 1 : 997)) {
                plant(haystack, p, needle);
                const SearchResult expected = naive_find(haystack, needle);
                ASSERT_EQ(find_n(haystack, needle), expected) << n << " " << m << " " << p;
                ASSERT_EQ(wide->find_n(range_of(haystack), range_of(needle)), expected);
                std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
            }
        }
    }
}

TEST_P(Halves, EntriesRoutedByLengthAnswerAsTheNaiveScanOnBothSides) {
    // Each entry taken by length runs one variant's routine below its
    // length and the other's from it on. Haystacks that end at a guard page,
    // one byte either side of the length and a vector or two past it, with
    // the needle absent, at the first and last offsets, and twice (the first
    // and the last occurrence differ); count_one counts a byte planted at
    // every 7th offset and at both ends.
    struct Routed {
        const char* name;
        std::size_t from;
        std::size_t m;
        bool reverse;
    };
    const SearchRoutines& composed = table();
    const Routed routed[] = {{"find_one", detail::kRouteOneFrom, 1, false},
                             {"find_two", detail::kRouteFindTwoFrom, 2, false},
                             {"find_three", detail::kRouteFindTwoFrom, 3, false},
                             {"rfind_one", detail::kRouteReverseOneFrom, 1, true},
                             {"rfind_two", detail::kRouteReverseTwoFrom, 2, true},
                             {"rfind_three", detail::kRouteReverseTwoFrom, 3, true},
                             {"rfind_n", detail::kRouteReverseNFrom, 4, true},
                             {"rfind_n", detail::kRouteReverseNFrom, 17, true}};
    const Bytes needle = needle_of(17);
    for (const Routed& r : routed) {
        const Bytes wanted(needle.begin(), needle.begin() + static_cast<std::ptrdiff_t>(r.m));
        const auto search = [&](ByteRange h) {
            const std::uint8_t* b = wanted.data();
            switch (r.m) {
                case 1:
                    return r.reverse ? composed.rfind_one(h, b[0]) : composed.find_one(h, b[0]);
                case 2:
                    return r.reverse ? composed.rfind_two(h, b[0], b[1])
                                     : composed.find_two(h, b[0], b[1]);
                case 3:
                    return r.reverse ? composed.rfind_three(h, b[0], b[1], b[2])
                                     : composed.find_three(h, b[0], b[1], b[2]);
                default:
                    return composed.rfind_n(h, range_of(wanted));
            }
        };
        for (const std::size_t n : {r.from - 1, r.from, r.from + 1, r.from + 64, r.from + 129}) {
            GuardedPage page(n / 4096 + 2);
            ASSERT_TRUE(page.ok());
            const std::size_t m = r.m;
            for (const auto& starts : std::vector<std::vector<std::size_t>>{
                     {}, {0}, {n - m}, {0, n - m}, {n / 2, n / 2 + m + 1}, {n - m - 64}}) {
                Bytes bytes(n, '.');
                for (const std::size_t at : starts) {
                    plant(bytes, at, wanted);
                }
                const std::span<const std::uint8_t> haystack = page.at_end(bytes);
                const SearchResult expected =
                    r.reverse ? naive_rfind(haystack, wanted) : naive_find(haystack, wanted);
                ASSERT_EQ(search(range_of(haystack)), expected)
                    << r.name << " of " << m << " bytes, length " << n;
            }
        }
    }
    for (const std::size_t n : {detail::kRouteCountFrom - 1, detail::kRouteCountFrom,
                                detail::kRouteCountFrom + 1, detail::kRouteCountFrom + 65}) {
        GuardedPage page(n / 4096 + 2);
        ASSERT_TRUE(page.ok());
        Bytes bytes(n, '.');
        for (std::size_t at = 0; at < n; at += 7) {
            bytes[at] = 'Q';
        }
        bytes.back() = 'Q';
        const std::span<const std::uint8_t> haystack = page.at_end(bytes);
        ASSERT_EQ(composed.count_one(range_of(haystack), 'Q'), naive_count(haystack, 'Q'))
            << "count_one, length " << n;
    }
    // The case-insensitive searches: the needle planted in the other case,
    // against the naive scan of both lower-cased.
    const auto lower = [](Bytes bytes) {
        for (std::uint8_t& b : bytes) {
            b = b >= 'A' && b <= 'Z' ? static_cast<std::uint8_t>(b + 32) : b;
        }
        return bytes;
    };
    const std::string_view text = "eQzEqZe!";
    const std::string_view other_case = "EqZeQzE!";
    const Bytes folded(text.begin(), text.end());
    const Bytes planted(other_case.begin(), other_case.end());
    const std::size_t m = folded.size();
    for (const std::size_t n : {detail::kRouteFoldedFrom - 1, detail::kRouteFoldedFrom,
                                detail::kRouteFoldedFrom + 1, detail::kRouteFoldedFrom + 129}) {
        GuardedPage page(n / 4096 + 2);
        ASSERT_TRUE(page.ok());
        for (const auto& starts : std::vector<std::vector<std::size_t>>{
                 {}, {0}, {n - m}, {0, n - m}, {n / 2, n / 2 + m + 1}}) {
            Bytes bytes(n, '.');
            for (const std::size_t at : starts) {
                plant(bytes, at, planted);
            }
            const std::span<const std::uint8_t> haystack = page.at_end(bytes);
            const Bytes lowered = lower(bytes);
            ASSERT_EQ(composed.find_folded(range_of(haystack), range_of(folded)),
                      naive_find(lowered, lower(folded)))
                << "find_folded, length " << n;
            ASSERT_EQ(composed.rfind_folded(range_of(haystack), range_of(folded)),
                      naive_rfind(lowered, lower(folded)))
                << "rfind_folded, length " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pairs, Halves, ::testing::ValuesIn(composable_pairs()), pair_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Halves);

// Fabricated pieces: widths, and whether a variant has the pieces.
SearchResult no_prefix(ByteRange, ByteRange, std::size_t&) noexcept {
    return SearchResult::not_found();
}
SearchResult no_ranked(ByteRange, ByteRange, std::size_t) noexcept {
    return SearchResult::not_found();
}
constexpr detail::LongSearchParts k16{16, nullptr, nullptr};
constexpr detail::LongSearchParts k32{32, &no_prefix, &no_ranked};
constexpr detail::LongSearchParts k32Bare{32, nullptr, nullptr};
constexpr detail::LongSearchParts k64{64, &no_prefix, &no_ranked};
constexpr detail::LongSearchParts k64Bare{64, nullptr, nullptr};

detail::HalvesPair pair_of(std::initializer_list<const detail::LongSearchParts*> parts) {
    const std::vector<const detail::LongSearchParts*> list(parts);
    return detail::halves_pair(list);
}

TEST(HalvesPair, JoinsThe512BitWidestWithTheFirst256BitVariant) {
    const detail::HalvesPair x86 = pair_of({&k16, &k16, &k32, &k64});
    EXPECT_TRUE(x86.found);
    EXPECT_EQ(x86.wide, 3u);
    EXPECT_EQ(x86.half, 2u);
    // A later variant of 512-bit vectors is the wide one, whatever its name.
    const detail::HalvesPair later = pair_of({&k16, &k32, &k64, &k64});
    EXPECT_TRUE(later.found);
    EXPECT_EQ(later.wide, 3u);
    EXPECT_EQ(later.half, 1u);
}

TEST(HalvesPair, NoRouteWithoutA512BitWidestOrA256BitPartner) {
    EXPECT_FALSE(pair_of({}).found);
    EXPECT_FALSE(pair_of({&k16}).found);
    EXPECT_FALSE(pair_of({&k16, &k32}).found);            // the widest of 256 bits
    EXPECT_FALSE(pair_of({&k16, &k64}).found);            // nothing of 256 bits
    EXPECT_FALSE(pair_of({&k16, &k32Bare, &k64}).found);  // 256 bits without the pieces
    EXPECT_FALSE(pair_of({&k16, &k32, &k64Bare}).found);  // 512 bits without the pieces
    EXPECT_FALSE(pair_of({&k16, &k64, &k32}).found);      // the widest is the last
}

TEST(HalvesPair, TheRouteOfThisCpuIsAHandOverFromTheWidestVariant) {
    // Whatever the CPU, route_on_halves composes two of the supported
    // variants, the widest handing over, or none.
    const auto supported = supported_backends();
    const SearchRoutines* route = detail::route_on_halves(supported);
    if (route == nullptr) {
        GTEST_SKIP() << "the variants this CPU runs have no 512-bit and 256-bit pair";
    }
    EXPECT_EQ(route->backend, supported.back());
    bool composed = false;
    for (const Backend half : supported) {
        composed = composed || route == routines_handing_over(supported.back(), half);
    }
    EXPECT_TRUE(composed);
}

}  // namespace
}  // namespace qarvo::test
