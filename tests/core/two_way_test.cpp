// Two-Way search: results against a naive scan (exhaustive over a binary
// alphabet, then random), the properties of the critical factorisation it
// relies on, its linear comparison bound, and reads that stay inside both
// ranges (guard pages).
#include "two_way.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "guarded_page.hpp"
#include "qarvo/search.hpp"

namespace {

using qarvo::ByteRange;
using qarvo::SearchResult;
using qarvo::detail::two_way_find;

ByteRange range_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The reference: compare the needle at every offset from 0 upward.
SearchResult naive_find(std::string_view haystack, std::string_view needle) {
    if (needle.size() > haystack.size()) {
        return SearchResult::not_found();
    }
    for (std::size_t p = 0; p + needle.size() <= haystack.size(); ++p) {
        if (haystack.compare(p, needle.size(), needle) == 0) {
            return SearchResult::at(p);
        }
    }
    return SearchResult::not_found();
}

SearchResult two_way(std::string_view haystack, std::string_view needle) {
    return two_way_find(range_of(haystack), range_of(needle));
}

std::string show(SearchResult r) {
    return r.found() ? std::to_string(r.offset()) : std::string("not found");
}

// Two-Way agrees with the naive scan; the message names both inputs if not.
::testing::AssertionResult same_as_naive(std::string_view haystack, std::string_view needle) {
    const SearchResult expected = naive_find(haystack, needle);
    const SearchResult actual = two_way(haystack, needle);
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "haystack=\"" << haystack << "\" needle=\"" << needle << "\": found " << show(actual)
           << ", expected " << show(expected);
}

// The word of `length` letters from {a, b} whose bit k picks letter k.
std::string binary_word(std::uint32_t bits, std::size_t length) {
    std::string word(length, 'a');
    for (std::size_t k = 0; k < length; ++k) {
        if ((bits >> k) & 1U) {
            word[k] = 'b';
        }
    }
    return word;
}

// Runs check(haystack, needle) for every haystack of 0..max_n letters and
// every needle of 1..max_m letters over {a, b}; reports the first failure.
template <class Check>
void for_each_binary_pair(std::size_t max_n, std::size_t max_m, Check check) {
    std::vector<std::string> needles;
    for (std::size_t m = 1; m <= max_m; ++m) {
        for (std::uint32_t bits = 0; bits < (1U << m); ++bits) {
            needles.push_back(binary_word(bits, m));
        }
    }
    for (std::size_t n = 0; n <= max_n; ++n) {
        for (std::uint32_t bits = 0; bits < (1U << n); ++bits) {
            const std::string haystack = binary_word(bits, n);
            for (const std::string& needle : needles) {
                if (const ::testing::AssertionResult r = check(haystack, needle); !r) {
                    ADD_FAILURE() << r.message();
                    return;
                }
            }
        }
    }
}

TEST(TwoWayFind, EmptyAndOversizedNeedles) {
    // Null data is allowed for empty ranges and must not be touched.
    EXPECT_EQ(two_way_find({}, {}), SearchResult::at(0));
    EXPECT_EQ(two_way_find(range_of("abc"), {}), SearchResult::at(0));
    EXPECT_EQ(two_way_find({}, range_of("a")), SearchResult::not_found());
    EXPECT_EQ(two_way("abc", "abcd"), SearchResult::not_found());
    EXPECT_EQ(two_way("abc", "abc"), SearchResult::at(0));
    EXPECT_EQ(two_way("abc", "abd"), SearchResult::not_found());
    EXPECT_EQ(two_way("abc", "xbc"), SearchResult::not_found());
}

// Hand-checked expectations, so a fault shared with the reference still shows.
TEST(TwoWayFind, HandCheckedCases) {
    struct Case {
        std::string_view haystack;
        std::string_view needle;
        SearchResult expected;
    };
    const Case cases[] = {
        {"aaaaaaaa", "aaaa", SearchResult::at(0)},
        {"aaabaaaab", "aaaa", SearchResult::at(4)},
        {"abaababab", "abab", SearchResult::at(3)},
        {"ababababa", "ababb", SearchResult::not_found()},
        {"aabaabaaab", "aabaab", SearchResult::at(0)},
        {"aabaacaabaab", "aabaab", SearchResult::at(6)},
        {"xxabcabcabd", "abcabd", SearchResult::at(5)},
        {"banana", "nana", SearchResult::at(2)},
        {"mississippi", "issip", SearchResult::at(4)},
        {"zzzzy", "zy", SearchResult::at(3)},
        {"the quick brown fox", "brown", SearchResult::at(10)},
        {"abababab", "ba", SearchResult::at(1)},
        {"aaaaaaab", "aaab", SearchResult::at(4)},
        {"baaaaaaa", "baaa", SearchResult::at(0)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(two_way(c.haystack, c.needle)), show(c.expected))
            << "haystack=\"" << c.haystack << "\" needle=\"" << c.needle << "\"";
        EXPECT_EQ(show(naive_find(c.haystack, c.needle)), show(c.expected));
    }
}

// Every needle of 1..8 letters over {a, b} in every haystack of 0..14 letters:
// this covers all periodic shapes (aaaa, abab, aabaab, ...) and all
// non-periodic ones at every offset, plus needle == haystack and longer.
//
// The naive scan runs once per haystack here: walking offsets upward, it notes
// where each window's word first occurs, which is the naive answer for every
// needle at once.
TEST(TwoWayFind, ExhaustiveBinaryAlphabet) {
    constexpr std::size_t kMaxHaystack = 14;
    constexpr std::size_t kMaxNeedle = 8;
    constexpr std::size_t kNone = ~std::size_t{0};
    std::vector<std::string> needles[kMaxNeedle + 1];
    for (std::size_t m = 1; m <= kMaxNeedle; ++m) {
        for (std::uint32_t bits = 0; bits < (1U << m); ++bits) {
            needles[m].push_back(binary_word(bits, m));
        }
    }
    for (std::size_t n = 0; n <= kMaxHaystack; ++n) {
        for (std::uint32_t hbits = 0; hbits < (1U << n); ++hbits) {
            const std::string haystack = binary_word(hbits, n);
            std::size_t first[kMaxNeedle + 1][1U << kMaxNeedle];
            std::fill(&first[0][0], &first[0][0] + sizeof first / sizeof first[0][0], kNone);
            for (std::size_t p = 0; p < n; ++p) {
                for (std::size_t m = 1; m <= kMaxNeedle && p + m <= n; ++m) {
                    std::size_t& at = first[m][(hbits >> p) & ((1U << m) - 1)];
                    at = std::min(at, p);
                }
            }
            for (std::size_t m = 1; m <= kMaxNeedle; ++m) {
                for (std::uint32_t bits = 0; bits < (1U << m); ++bits) {
                    const std::size_t at = first[m][bits];
                    const SearchResult expected =
                        at == kNone ? SearchResult::not_found() : SearchResult::at(at);
                    const SearchResult actual = two_way(haystack, needles[m][bits]);
                    if (actual != expected) {
                        FAIL() << "haystack=" << haystack << " needle=" << needles[m][bits]
                               << ": found " << show(actual) << ", expected " << show(expected);
                    }
                }
            }
        }
    }
}

// Random haystacks and needles over small alphabets, where partial matches and
// periodic needles are frequent, and over all 256 byte values (0x00 and 0xFF
// included). Needles are random, cut from the haystack, or periodic words with
// a possibly changed last byte.
TEST(TwoWayFind, RandomDifferential) {
    std::mt19937_64 rng(0x7a0c'2e51'9b44'd3f1ULL);
    auto below = [&rng](std::size_t bound) { return static_cast<std::size_t>(rng() % bound); };
    const unsigned alphabets[] = {2, 3, 4, 256};
    for (int round = 0; round < 60000; ++round) {
        const unsigned sigma = alphabets[below(std::size(alphabets))];
        auto letter = [&] {
            return static_cast<char>(sigma == 256 ? below(256) : 'a' + below(sigma));
        };

        std::string haystack(below(300), '\0');
        for (char& ch : haystack) {
            ch = letter();
        }
        std::string needle;
        switch (below(3)) {
            case 0:
                needle.resize(below(40));
                for (char& ch : needle) {
                    ch = letter();
                }
                break;
            case 1:
                if (!haystack.empty()) {
                    const std::size_t start = below(haystack.size());
                    needle = haystack.substr(start, 1 + below(haystack.size() - start));
                }
                break;
            default: {
                std::string root(1 + below(5), '\0');
                for (char& ch : root) {
                    ch = letter();
                }
                const std::size_t length = 1 + below(40);
                for (std::size_t k = 0; k < length; ++k) {
                    needle += root[k % root.size()];
                }
                if (below(2) == 0) {
                    needle.back() = letter();
                }
                // Plant the periodic needle, or a prefix of it, half the time.
                if (below(2) == 0 && needle.size() <= haystack.size()) {
                    const std::size_t at = below(haystack.size() - needle.size() + 1);
                    const std::size_t keep = needle.size() - below(needle.size());
                    haystack.replace(at, keep, needle, 0, keep);
                }
                break;
            }
        }
        ASSERT_TRUE(same_as_naive(haystack, needle));
    }
}

// Families on which a candidate-by-candidate scan costs n * m: checked for the
// result here, and for the comparison count below.
TEST(TwoWayFind, AdversarialFamilies) {
    for (std::size_t k = 0; k <= 40; ++k) {
        const std::string mid_b = std::string(k, 'a') + 'b' + std::string(k, 'a');
        const std::string last_b = std::string(2 * k, 'a') + 'b';
        for (std::size_t n : {std::size_t{0}, k, 2 * k, 2 * k + 1, 2 * k + 2, std::size_t{500}}) {
            const std::string plain(n, 'a');
            EXPECT_EQ(two_way(plain, mid_b), SearchResult::not_found()) << "k=" << k << " n=" << n;
            EXPECT_EQ(two_way(plain, last_b), SearchResult::not_found()) << "k=" << k << " n=" << n;

            // The same needles, now present once at the end of a long run.
            const std::string ends_mid_b = plain + mid_b;
            const std::string ends_last_b = plain + last_b;
            EXPECT_EQ(two_way(ends_mid_b, mid_b), SearchResult::at(n)) << "k=" << k << " n=" << n;
            EXPECT_EQ(two_way(ends_last_b, last_b), SearchResult::at(n)) << "k=" << k << " n=" << n;
        }
    }
}

// Smallest r >= 1 with x[i] == x[i + r] wherever both exist.
std::size_t period_of(std::string_view x) {
    for (std::size_t r = 1; r < x.size(); ++r) {
        if (x.substr(r) == x.substr(0, x.size() - r)) {
            return r;
        }
    }
    return x.size();
}

// Smallest r >= 1 such that some word of length r is both a suffix of
// x[0, c) or has it as suffix, and a prefix of x[c, m) or has it as prefix:
// x[i] == x[i + r] for every i in [c - r, c) with 0 <= i and i + r < m.
std::size_t local_period_at(std::string_view x, std::size_t c) {
    for (std::size_t r = 1;; ++r) {
        bool fits = true;
        for (std::size_t i = c >= r ? c - r : 0; i < c && i + r < x.size(); ++i) {
            fits = fits && x[i] == x[i + r];
        }
        if (fits) {
            return r;
        }
    }
}

// The greatest suffix of x, bytes compared as unsigned values in ascending or
// (reversed) descending order, found by comparing every suffix.
std::size_t naive_maximal_suffix_start(std::string_view x, bool reversed) {
    std::string key(x);
    if (reversed) {
        for (char& ch : key) {
            ch = static_cast<char>(0xFF - static_cast<unsigned char>(ch));
        }
    }
    // std::char_traits<char> compares bytes as unsigned char.
    const std::string_view k = key;
    std::size_t best = 0;
    for (std::size_t s = 1; s < k.size(); ++s) {
        if (k.substr(s) > k.substr(best)) {
            best = s;
        }
    }
    return best;
}

// The search is correct because of these facts about the cut, so check them
// directly: a mistake here could hide behind lucky inputs above.
void expect_critical_cut(std::string_view x) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(x.data());
    for (bool reversed : {false, true}) {
        const auto s = qarvo::detail::maximal_suffix(bytes, x.size(), reversed);
        const std::size_t start = naive_maximal_suffix_start(x, reversed);
        ASSERT_EQ(s.start, start) << x << (reversed ? " descending" : " ascending");
        ASSERT_EQ(s.period, period_of(x.substr(start))) << x;
    }

    const auto f = qarvo::detail::critical_factorization(bytes, x.size());
    const std::size_t period = period_of(x);
    ASSERT_LT(f.critical, x.size()) << x;
    // Critical: the local period at the cut is the period of the needle.
    ASSERT_EQ(local_period_at(x, f.critical), period) << x << " cut at " << f.critical;
    // The left part is shorter than the period, as the published analysis of
    // the shifts requires.
    ASSERT_LT(f.critical, period) << x;
    ASSERT_EQ(f.periodic, f.period == period) << x;
    if (!f.periodic) {
        // The non-periodic shift, max(c, m - c) + 1, must not exceed the period.
        ASSERT_GT(period, std::max(f.critical, x.size() - f.critical)) << x;
    }
}

TEST(TwoWayFactorization, IsCriticalForEveryShortTernaryNeedle) {
    std::string x;
    for (std::size_t m = 1; m <= 9; ++m) {
        x.assign(m, 'a');
        // Count through all words over {a, b, c} of length m.
        while (true) {
            expect_critical_cut(x);
            if (HasFatalFailure()) {
                return;
            }
            std::size_t k = 0;
            while (k < m && x[k] == 'c') {
                x[k++] = 'a';
            }
            if (k == m) {
                break;
            }
            ++x[k];
        }
    }
}

TEST(TwoWayFactorization, IsCriticalForRandomNeedles) {
    std::mt19937_64 rng(0x51c3'88f0'0d2a'6b17ULL);
    for (int round = 0; round < 20000; ++round) {
        const unsigned sigma = round % 2 == 0 ? 256 : 2 + static_cast<unsigned>(rng() % 3);
        std::string x(1 + rng() % 64, '\0');
        for (char& ch : x) {
            ch = static_cast<char>(sigma == 256 ? rng() % 256 : 'a' + rng() % sigma);
        }
        expect_critical_cut(x);
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Runs the production search with a comparator that counts the byte
// comparisons made against the haystack.
std::size_t comparisons(std::string_view haystack, std::string_view needle) {
    std::size_t count = 0;
    qarvo::detail::two_way_find_with(range_of(haystack), range_of(needle),
                                     [&count](std::uint8_t a, std::uint8_t b) {
                                         ++count;
                                         return a == b;
                                     });
    return count;
}

// What a scan that compares the needle left to right at every offset costs.
std::size_t naive_comparisons(std::string_view haystack, std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t p = 0; p + needle.size() <= haystack.size(); ++p) {
        std::size_t i = 0;
        while (i < needle.size() && (++count, haystack[p + i] == needle[i])) {
            ++i;
        }
        if (i == needle.size()) {
            break;
        }
    }
    return count;
}

// Crochemore and Perrin bound the search by 2n - m comparisons against the
// haystack (n >= m). The memory of the periodic case is what keeps it there.
std::size_t comparison_bound(std::string_view haystack, std::string_view needle) {
    return 2 * haystack.size() - needle.size();
}

TEST(TwoWayFind, ComparisonsWithinBoundForEveryShortBinaryInput) {
    for_each_binary_pair(11, 9, [](std::string_view haystack, std::string_view needle) {
        if (needle.size() > haystack.size() ||
            comparisons(haystack, needle) <= comparison_bound(haystack, needle)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << comparisons(haystack, needle) << " comparisons for haystack=" << haystack
               << " needle=" << needle;
    });
}

TEST(TwoWayFind, ComparisonsWithinBoundOnHostileInputs) {
    const std::string plain(4096, 'a');
    for (std::size_t k : {7U, 31U, 100U, 500U}) {
        const std::string mid_b = std::string(k, 'a') + 'b' + std::string(k, 'a');
        const std::string last_b = std::string(2 * k, 'a') + 'b';
        for (const std::string& needle : {mid_b, last_b}) {
            // The input really is hostile: a naive scan would blow the bound.
            ASSERT_GT(naive_comparisons(plain, needle), comparison_bound(plain, needle));
            EXPECT_LE(comparisons(plain, needle), comparison_bound(plain, needle))
                << "k=" << k << " needle=" << needle;
        }
    }

    // Periodic needles against haystacks that keep almost matching them.
    std::mt19937_64 rng(0x2d7e'90aa'c4b1'3f05ULL);
    for (int round = 0; round < 3000; ++round) {
        const std::string root = std::string(1 + rng() % 4, 'a') + 'b';
        std::string haystack = rng() % 2 == 0 ? "a" : "";
        while (haystack.size() < 2000) {
            haystack += rng() % 8 == 0 ? "ab" : root;
        }
        std::string needle;
        const std::size_t length = 2 + rng() % 60;
        while (needle.size() < length) {
            needle += root;
        }
        needle.back() = rng() % 2 == 0 ? 'a' : 'b';
        EXPECT_LE(comparisons(haystack, needle), comparison_bound(haystack, needle))
            << "needle=" << needle;
    }
}

// `s` copied next to a guard page of `page`: ending at the upper one, or
// starting right after the lower one.
ByteRange guarded(qarvo::test::GuardedPage& page, std::string_view s, bool at_end) {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(s.data()),
                                              s.size());
    const std::span<const std::uint8_t> placed = at_end ? page.at_end(bytes) : page.at_start(bytes);
    return {placed.data(), placed.size()};
}

TEST(TwoWayFind, ReadsStayInsideBothRanges) {
    qarvo::test::GuardedPage hay_page;
    qarvo::test::GuardedPage needle_page;
    ASSERT_TRUE(hay_page.ok() && needle_page.ok());
    std::mt19937_64 rng(0x9e37'79b9'7f4a'7c15ULL);
    for (std::size_t n = 0; n <= 300; ++n) {
        for (std::size_t m = 0; m <= 300; ++m) {
            // Needles that must be read to both ends, in haystacks that must be
            // read to both ends: a lone 'b' last or first, or random {a, b}.
            std::string needle(m, 'a');
            std::string haystack(n, 'a');
            switch ((n + m) % 3) {
                case 0:
                    if (m > 0) needle.back() = 'b';
                    if (n > 0) haystack.back() = 'b';
                    break;
                case 1:
                    if (m > 0) needle.front() = 'b';
                    if (n > 0) haystack.front() = 'b';
                    break;
                default:
                    for (char& ch : needle) ch = rng() % 2 == 0 ? 'a' : 'b';
                    for (char& ch : haystack) ch = rng() % 2 == 0 ? 'a' : 'b';
                    break;
            }
            const std::string expected = show(naive_find(haystack, needle));
            for (const bool at_end : {true, false}) {
                EXPECT_EQ(show(two_way_find(guarded(hay_page, haystack, at_end),
                                            guarded(needle_page, needle, at_end))),
                          expected)
                    << "n=" << n << " m=" << m << (at_end ? " at the end" : " at the start");
            }
        }
    }
}

// The search from the end (Direction::last): the naive scan from the end,
// with its own counted comparisons and the same bound.
SearchResult naive_rfind(std::string_view haystack, std::string_view needle) {
    if (needle.size() > haystack.size()) {
        return SearchResult::not_found();
    }
    for (std::size_t p = haystack.size() - needle.size() + 1; p-- > 0;) {
        if (haystack.compare(p, needle.size(), needle) == 0) {
            return SearchResult::at(p);
        }
    }
    return SearchResult::not_found();
}

std::size_t comparisons_last(std::string_view haystack, std::string_view needle) {
    std::size_t count = 0;
    qarvo::detail::two_way_find_with<qarvo::detail::Direction::last>(
        range_of(haystack), range_of(needle), [&count](std::uint8_t a, std::uint8_t b) {
            ++count;
            return a == b;
        });
    return count;
}

TEST(TwoWayRfind, EmptyAndOversizedNeedles) {
    using qarvo::detail::two_way_rfind;
    EXPECT_EQ(two_way_rfind({}, {}), SearchResult::at(0));
    EXPECT_EQ(two_way_rfind(range_of("abc"), {}), SearchResult::at(3));
    EXPECT_EQ(two_way_rfind({}, range_of("a")), SearchResult::not_found());
    EXPECT_EQ(two_way_rfind(range_of("abc"), range_of("abcd")), SearchResult::not_found());
    EXPECT_EQ(two_way_rfind(range_of("abc"), range_of("abc")), SearchResult::at(0));
    EXPECT_EQ(two_way_rfind(range_of("abcabc"), range_of("abc")), SearchResult::at(3));
    EXPECT_EQ(two_way_rfind(range_of("aaaaaaab"), range_of("aaa")), SearchResult::at(4));
    EXPECT_EQ(two_way_rfind(range_of("mississippi"), range_of("ssi")), SearchResult::at(5));
}

TEST(TwoWayRfind, EveryShortBinaryInputAgreesWithTheNaiveScanFromTheEnd) {
    for_each_binary_pair(12, 8, [](std::string_view haystack, std::string_view needle) {
        const SearchResult expected = naive_rfind(haystack, needle);
        const SearchResult actual =
            qarvo::detail::two_way_rfind(range_of(haystack), range_of(needle));
        if (actual == expected) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "haystack=" << haystack << " needle=" << needle << ": found " << show(actual)
               << ", expected " << show(expected);
    });
}

TEST(TwoWayRfind, RandomDifferentialOverAllBytes) {
    std::mt19937_64 rng(0x4c41'5354'0001ULL);
    for (int round = 0; round < 20000; ++round) {
        const unsigned sigma = round % 3 == 0 ? 256 : 2 + static_cast<unsigned>(rng() % 3);
        auto letter = [&] {
            return static_cast<char>(sigma == 256 ? rng() % 256 : 'a' + rng() % sigma);
        };
        std::string haystack(rng() % 200, '\0');
        for (char& ch : haystack) {
            ch = letter();
        }
        std::string needle(1 + rng() % 30, '\0');
        for (char& ch : needle) {
            ch = letter();
        }
        if (round % 2 == 0 && needle.size() <= haystack.size()) {
            haystack.replace(rng() % (haystack.size() - needle.size() + 1), needle.size(), needle);
        }
        ASSERT_EQ(show(qarvo::detail::two_way_rfind(range_of(haystack), range_of(needle))),
                  show(naive_rfind(haystack, needle)))
            << "round " << round;
    }
}

TEST(TwoWayRfind, ComparisonsWithinBound) {
    for_each_binary_pair(11, 9, [](std::string_view haystack, std::string_view needle) {
        if (needle.size() > haystack.size() ||
            comparisons_last(haystack, needle) <= comparison_bound(haystack, needle)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << comparisons_last(haystack, needle) << " comparisons for haystack=" << haystack
               << " needle=" << needle;
    });
    // Hostile from the end: the odd byte first, or in the middle.
    const std::string plain(4096, 'a');
    for (std::size_t k : {7U, 31U, 100U, 500U}) {
        const std::string mid_b = std::string(k, 'a') + 'b' + std::string(k, 'a');
        const std::string first_b = 'b' + std::string(2 * k, 'a');
        for (const std::string& needle : {mid_b, first_b}) {
            EXPECT_LE(comparisons_last(plain, needle), comparison_bound(plain, needle))
                << "k=" << k << " needle=" << needle;
        }
    }
}

TEST(TwoWayRfind, ReadsStayInsideBothRanges) {
    qarvo::test::GuardedPage hay_page;
    qarvo::test::GuardedPage needle_page;
    ASSERT_TRUE(hay_page.ok() && needle_page.ok());
    std::mt19937_64 rng(0x4c41'5354'0002ULL);
    for (std::size_t n = 0; n <= 200; ++n) {
        for (std::size_t m = 0; m <= 200; m += 1 + m / 16) {
            std::string needle(m, 'a');
            std::string haystack(n, 'a');
            switch ((n + m) % 3) {
                case 0:
                    if (m > 0) needle.front() = 'b';
                    if (n > 0) haystack.front() = 'b';
                    break;
                case 1:
                    if (m > 0) needle.back() = 'b';
                    if (n > 0) haystack.back() = 'b';
                    break;
                default:
                    for (char& ch : needle) ch = rng() % 2 == 0 ? 'a' : 'b';
                    for (char& ch : haystack) ch = rng() % 2 == 0 ? 'a' : 'b';
                    break;
            }
            const std::string expected = show(naive_rfind(haystack, needle));
            for (const bool at_end : {true, false}) {
                EXPECT_EQ(show(qarvo::detail::two_way_rfind(guarded(hay_page, haystack, at_end),
                                                            guarded(needle_page, needle, at_end))),
                          expected)
                    << "n=" << n << " m=" << m << (at_end ? " at the end" : " at the start");
            }
        }
    }
}

}  // namespace
