// The case-insensitive searches (find_folded, rfind_folded) on every variant,
// against a plain folding reference: random haystacks over letters of both
// cases and the bytes one bit away from them ('@' and '`', '[' and '{', '^'
// and '~', 0xC1 and 0xE1, bytes from 0x80), which must match only
// themselves; a needle planted in another case at every position of every
// length, so that each block boundary of every width is crossed; guard
// pages on both sides; the linear bound on hostile mixed-case inputs; and
// MatchScan's folded counts and overlapping matches.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "planting.hpp"
#include "probe.hpp"
#include "qarvo/matches.hpp"
#include "two_way.hpp"

namespace qarvo::test {
namespace {

std::uint8_t lower(std::uint8_t b) {
    return b >= 'A' && b <= 'Z' ? static_cast<std::uint8_t>(b + 32) : b;
}

Bytes lowered(std::span<const std::uint8_t> bytes) {
    Bytes out(bytes.begin(), bytes.end());
    for (auto& b : out) {
        b = lower(b);
    }
    return out;
}

// The reference: the plain scans of both ranges lower-cased.
SearchResult folded_find(std::span<const std::uint8_t> h, std::span<const std::uint8_t> x) {
    return naive_find(lowered(h), lowered(x));
}
SearchResult folded_rfind(std::span<const std::uint8_t> h, std::span<const std::uint8_t> x) {
    return naive_rfind(lowered(h), lowered(x));
}

// Each letter of `bytes` in a case drawn from `rng`.
Bytes mixed_case(std::span<const std::uint8_t> bytes, std::mt19937& rng) {
    Bytes out(bytes.begin(), bytes.end());
    for (auto& b : out) {
        if (((b | 0x20) >= 'a' && (b | 0x20) <= 'z') && (rng() & 1) != 0) {
            b ^= 0x20;
        }
    }
    return out;
}

Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// Letters, and the bytes that differ from a letter in the 0x20 bit only or
// lie just outside A-Z and a-z: a search that folds by that bit alone, or
// folds bytes from 0x80, finds them where it must not.
constexpr std::string_view kTricky = "aAbBzZ@`[{^~]}\\|_\x7f\xc1\xe1\xdf\xff\x80\xa0 09?";

class Folded : public EveryBackend {
protected:
    // find_folded, or rfind_folded with `backwards`, with the probe reset
    // first so that it shows this search's path alone.
    SearchResult probed(std::span<const std::uint8_t> h, std::span<const std::uint8_t> x,
                        bool backwards) const {
        detail::g_search_probe = {};
        return backwards ? routines().rfind_folded(range_of(h), range_of(x))
                         : routines().find_folded(range_of(h), range_of(x));
    }

    void expect_both(std::span<const std::uint8_t> h, std::span<const std::uint8_t> x,
                     const std::string& what) const {
        ASSERT_EQ(routines().find_folded(range_of(h), range_of(x)), folded_find(h, x))
            << "find_folded, " << what << ", haystack " << h.size() << ", needle " << x.size();
        ASSERT_EQ(routines().rfind_folded(range_of(h), range_of(x)), folded_rfind(h, x))
            << "rfind_folded, " << what << ", haystack " << h.size() << ", needle " << x.size();
    }
};

TEST_P(Folded, RandomHaystacksOfLettersAndTheirNeighbours) {
    std::mt19937 rng(20261209);
    for (int round = 0; round < 4000; ++round) {
        // Few distinct bytes, so that needles drawn from the same alphabet
        // occur, partly occur and nearly occur.
        const std::size_t alphabet = 2 + rng() % 5;
        std::string letters;
        for (std::size_t k = 0; k < alphabet; ++k) {
            letters += kTricky[rng() % kTricky.size()];
        }
        const std::size_t n = round % 40 == 0 ? 2000 + rng() % 5000 : rng() % 300;
        Bytes haystack(n);
        for (auto& b : haystack) {
            b = static_cast<std::uint8_t>(letters[rng() % alphabet]);
        }
        const std::size_t m = rng() % 20 == 0 ? 20 + rng() % 60 : rng() % 10;
        Bytes needle(m);
        if (m <= n && (rng() & 1) != 0) {
            // A piece of the haystack in other cases.
            const std::size_t at = rng() % (n - m + 1);
            needle = mixed_case(std::span<const std::uint8_t>(haystack).subspan(at, m), rng);
        } else {
            for (auto& b : needle) {
                b = static_cast<std::uint8_t>(letters[rng() % alphabet]);
            }
        }
        expect_both(haystack, needle, "round " + std::to_string(round));
        ASSERT_FALSE(HasFatalFailure());
    }
}

// Needles whose letters sit next to non-letters one bit away, so that the
// planted needle in another case is the only occurrence and every neighbour
// a decoy.
const std::string_view kNeedles[] = {
    "a",
    "@",
    "Q",
    "qR",
    "a@",
    "[b{",
    "x^~Y",
    "Zz@`[{",
    "hello, World",
    "\xc1",
    "\xe1"
    "Ab",
    "The Quick Brown Fox",
    "0123456789abcdefABCDEF~~",
    "Mixed{Case}[Text]^`@_",
};

TEST_P(Folded, PlantedInAnotherCaseAtEveryPosition) {
    std::mt19937 rng(7);
    for (const std::string_view text : kNeedles) {
        const Bytes needle = bytes_of(text);
        const std::size_t m = needle.size();
        for (std::size_t n = m; n <= 300; ++n) {
            // Filler: the needle's non-letter neighbours in the other bit and
            // a byte of its own, so that no window but the planted one
            // matches: '.' never occurs in these needles.
            Bytes haystack(n, '.');
            ASSERT_EQ(routines().find_folded(range_of(haystack), range_of(needle)),
                      SearchResult::not_found());
            for (std::size_t p = 0; p + m <= n; ++p) {
                const Bytes planted = mixed_case(needle, rng);
                plant(haystack, p, planted);
                ASSERT_EQ(routines().find_folded(range_of(haystack), range_of(needle)),
                          SearchResult::at(p))
                    << "find_folded " << text << ", length " << n << " at " << p;
                ASSERT_EQ(routines().rfind_folded(range_of(haystack), range_of(needle)),
                          SearchResult::at(p))
                    << "rfind_folded " << text << ", length " << n << " at " << p;
                // The same window with each non-letter flipped in its 0x20
                // bit ('@' to '`', '[' to '{'): no longer a match.
                Bytes decoy = planted;
                bool changed = false;
                for (auto& b : decoy) {
                    if (!((b | 0x20) >= 'a' && (b | 0x20) <= 'z')) {
                        b ^= 0x20;
                        changed = true;
                        break;
                    }
                }
                if (changed) {
                    plant(haystack, p, decoy);
                    ASSERT_EQ(routines().find_folded(range_of(haystack), range_of(needle)),
                              folded_find(haystack, needle))
                        << "decoy " << text << ", length " << n << " at " << p;
                    ASSERT_EQ(routines().rfind_folded(range_of(haystack), range_of(needle)),
                              folded_rfind(haystack, needle))
                        << "decoy " << text << ", length " << n << " at " << p;
                }
                std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
            }
        }
    }
}

TEST_P(Folded, WeakAnchorsAreChosenAgainByCountAndStillFindEveryOccurrence) {
    // A haystack of the needle's own bytes but one, 'e' (the most common by
    // rank, so never a ranked anchor), drawn at random: whichever two
    // anchors the rank chooses pass about one window in nine, each a false
    // alarm, so the search counts the haystack and goes on testing 'e' (or,
    // in a short haystack, adds a third anchor by rank). The needle then
    // planted in another case on both sides of where the search chooses
    // again, and near both ends.
    std::mt19937 rng(23);
    constexpr std::string_view kAlphabet = "qQ7xX";
    for (const std::string_view text : {"q7xe", "xq7Xe7q", "7xqQx7Eq7x"}) {
        const Bytes needle = bytes_of(text);
        const std::size_t m = needle.size();
        for (const std::size_t n : {3000u, 20000u}) {
            Bytes haystack(n);
            for (auto& b : haystack) {
                b = static_cast<std::uint8_t>(kAlphabet[rng() % kAlphabet.size()]);
            }
            for (const std::size_t p :
                 {std::size_t{0}, std::size_t{5}, n / 7, n / 2, n - m - 9, n - m}) {
                Bytes planted = haystack;
                plant(planted, p, mixed_case(needle, rng));
                for (const bool backwards : {false, true}) {
                    const SearchResult got = probed(planted, needle, backwards);
                    ASSERT_EQ(got, backwards ? folded_rfind(planted, needle)
                                             : folded_find(planted, needle))
                        << (backwards ? "rfind_folded " : "find_folded ") << text << ", " << n
                        << " bytes, planted at " << p;
                    // Far from where the search starts, the two anchors
                    // have had time to prove weak.
                    const std::size_t reached = backwards ? n - got.offset() : got.offset();
                    if (reached > 2000) {
                        // Far from the end, by counts; near it, a third
                        // anchor by rank.
                        EXPECT_TRUE(detail::g_search_probe.took(
                            n > 16384 ? detail::SearchPath::kFoldedRecounted
                                      : detail::SearchPath::kFoldedThirdByRank))
                            << text << ", " << n << " bytes, planted at " << p
                            << (backwards ? ", backwards" : "");
                    }
                }
            }
        }
    }
}

TEST_P(Folded, ALongHaystackIsCountedAfterItsRankedPrefix) {
    // Random letters a to m: the needle's ranked anchors never occur, so
    // they never prove weak, but after the ranked prefix the count finds
    // a needle byte absent and tests it alone. Planted in another case
    // before and after that point and near both ends; found from either end.
    std::mt19937 rng(31);
    const std::size_t n = 320 * 1024;
    Bytes haystack(n);
    for (auto& b : haystack) {
        b = static_cast<std::uint8_t>('a' + rng() % 13);
    }
    const Bytes needle = bytes_of("zQxjWv");
    const std::size_t m = needle.size();
    for (const std::size_t p : {std::size_t{100}, std::size_t{17000}, n / 2, n - 20000, n - m}) {
        Bytes planted = haystack;
        plant(planted, p, mixed_case(needle, rng));
        for (const bool backwards : {false, true}) {
            const SearchResult got = probed(planted, needle, backwards);
            ASSERT_EQ(got, SearchResult::at(p))
                << (backwards ? "rfind_folded" : "find_folded") << ", planted at " << p;
            const std::size_t reached = backwards ? n - p : p;
            if (reached > 24 * 1024) {
                EXPECT_TRUE(detail::g_search_probe.took(
                    detail::SearchPath::kFoldedCountedAfterRankedPrefix))
                    << "planted at " << p << (backwards ? ", backwards" : "");
            }
        }
    }
}

TEST_P(Folded, EveryAlignmentOfTheHaystack) {
    // The wide variants step from the first window whose loads of the first
    // anchor are aligned, after one block from where they start: every
    // misalignment of the haystack's start and end, with the needle planted
    // in the first and last blocks and just past them.
    std::mt19937 rng(41);
    Bytes filler(1200 + 64);
    for (auto& b : filler) {
        b = static_cast<std::uint8_t>(kTricky[rng() % kTricky.size()]);
    }
    Bytes buffer(filler.size());
    for (const std::string_view text : {"Qj", "qJ@", "xQ7jz", "zx`QJ[{qj~"}) {
        const Bytes needle = bytes_of(text);
        const std::size_t m = needle.size();
        for (std::size_t skew = 0; skew < 64; ++skew) {
            const std::span<std::uint8_t> haystack(buffer.data() + skew, 1200 - skew % 7);
            const std::size_t n = haystack.size();
            for (std::size_t p = 0; p + m <= n; p += p < 140 || p + m + 140 > n ? 1 : 97) {
                std::copy(filler.begin(), filler.end(), buffer.begin());
                plant(haystack, p, mixed_case(needle, rng));
                expect_both(haystack, needle,
                            std::string(text) + ", skew " + std::to_string(skew) + ", planted at " +
                                std::to_string(p));
            }
        }
    }
}

TEST_P(Folded, EmptyAndTooLongNeedles) {
    const Bytes haystack = bytes_of("AbC");
    const Bytes empty;
    EXPECT_EQ(routines().find_folded(range_of(haystack), range_of(empty)), SearchResult::at(0));
    EXPECT_EQ(routines().rfind_folded(range_of(haystack), range_of(empty)), SearchResult::at(3));
    EXPECT_EQ(routines().find_folded(ByteRange{}, ByteRange{}), SearchResult::at(0));
    EXPECT_EQ(routines().rfind_folded(ByteRange{}, ByteRange{}), SearchResult::at(0));
    const Bytes longer = bytes_of("abcd");
    EXPECT_EQ(routines().find_folded(range_of(haystack), range_of(longer)),
              SearchResult::not_found());
    EXPECT_EQ(routines().rfind_folded(range_of(haystack), range_of(longer)),
              SearchResult::not_found());
}

TEST_P(Folded, ReadsNothingOutsideTheRange) {
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    for (const std::string_view text :
         {"q", "Qr", "qRs", "QrSt", "qrstuvwxYZ", "QQQQQQQQQQQQQQQQQ"}) {
        const Bytes needle = bytes_of(text);
        const std::size_t m = needle.size();
        for (std::size_t n = 0; n <= 300; ++n) {
            // No match; the needle in upper case at the start and at the
            // end; all but its first byte at the start and all but its last
            // at the end, so that a search must read the range's edge bytes.
            Bytes none(n, '.');
            Bytes first = none;
            Bytes last = none;
            Bytes head = none;
            Bytes tail = none;
            Bytes upper = needle;
            for (auto& b : upper) {
                b = static_cast<std::uint8_t>(b & ~0x20);
            }
            if (m <= n) {
                plant(first, 0, upper);
                plant(last, n - m, upper);
            }
            if (m - 1 <= n) {
                plant(head, 0, std::span<const std::uint8_t>(upper).subspan(1));
                plant(tail, n - (m - 1), std::span<const std::uint8_t>(upper).first(m - 1));
            }
            for (const Bytes* contents : {&none, &first, &last, &head, &tail}) {
                for (const bool at_end : {true, false}) {
                    const std::span<const std::uint8_t> h =
                        at_end ? page.at_end(*contents) : page.at_start(*contents);
                    expect_both(h, needle, at_end ? "at the upper guard" : "at the lower guard");
                    ASSERT_FALSE(HasFatalFailure());
                }
            }
        }
    }
}

// Bytes compared per haystack and needle byte, at most, as find_n's bound
// (linear_bound_test.cpp): the budget's four per byte, and Two-Way's two.
constexpr std::size_t kBytesPerByte = 16;

// The text repeated to n bytes.
Bytes repeated(std::string_view text, std::size_t n) {
    Bytes out(n);
    for (std::size_t k = 0; k < n; ++k) {
        out[k] = static_cast<std::uint8_t>(text[k % text.size()]);
    }
    return out;
}

class FoldedLinearBound : public EveryBackend {
protected:
    void expect_linear(const Bytes& haystack, const Bytes& needle, const std::string& what) const {
        const ByteRange h = range_of(haystack);
        const ByteRange x = range_of(needle);
        const std::size_t bound = kBytesPerByte * (haystack.size() + needle.size());
        const auto same = [](std::uint8_t a, std::uint8_t b) noexcept { return a == b; };
        detail::g_search_probe = {};
        ASSERT_EQ(routines().find_folded(h, x),
                  (detail::two_way_find_with<detail::Direction::first, true>(h, x, same)))
            << what;
        ASSERT_LE(detail::g_search_probe.compared, bound) << "find_folded, " << what;
        detail::g_search_probe = {};
        ASSERT_EQ(routines().rfind_folded(h, x),
                  (detail::two_way_find_with<detail::Direction::last, true>(h, x, same)))
            << what;
        ASSERT_LE(detail::g_search_probe.compared, bound) << "rfind_folded, " << what;
    }
};

TEST_P(FoldedLinearBound, MixedCaseRunsAgainstANeedleDifferingInOneByte) {
    for (const std::size_t n : {100u, 1000u, 17000u, 70000u}) {
        // A run of 'a' in both cases: every window is a candidate of any
        // filter on the needle's 'a's, whatever their case.
        const Bytes haystack = repeated("aAAaAaaA", n);
        for (const std::size_t m : {2u, 3u, 4u, 9u, 17u, 64u, 200u}) {
            for (const std::size_t at : {std::size_t{0}, m / 2, m - 1}) {
                Bytes needle = repeated("AaaA", m);
                needle[at] = at % 2 == 0 ? 'b' : 'B';
                expect_linear(haystack, needle,
                              "run of " + std::to_string(n) + ", m " + std::to_string(m) +
                                  ", 'b' at " + std::to_string(at));
                ASSERT_FALSE(HasFatalFailure());
            }
        }
    }
}

TEST_P(FoldedLinearBound, MixedCasePeriodsAgainstNeedlesOfTheirPeriod) {
    for (const std::string_view period : {"aB", "AaB", "qAz", "The Quick Fox "}) {
        for (const std::size_t n : {1000u, 17000u, 70000u}) {
            const Bytes haystack = repeated(period, n);
            for (const std::size_t m : {4u, 31u, 200u}) {
                Bytes needle = repeated(period, m);
                // Upper-case the needle, then break it at one byte with
                // another byte of the period: it nearly matches every
                // period.
                for (auto& b : needle) {
                    b = static_cast<std::uint8_t>((b >= 'a' && b <= 'z') ? b - 32 : b);
                }
                const std::size_t at = m - 2;
                needle[at] = static_cast<std::uint8_t>(period[(at + 1) % period.size()]);
                if (lower(needle[at]) == lower(haystack[at])) {
                    continue;
                }
                expect_linear(
                    haystack, needle,
                    std::string(period) + " to " + std::to_string(n) + ", m " + std::to_string(m));
                ASSERT_FALSE(HasFatalFailure());
            }
        }
    }
}

QARVO_FOR_EVERY_BACKEND(Folded);
QARVO_FOR_EVERY_BACKEND(FoldedLinearBound);

// Two-Way over folded bytes, the guard behind both searches, against the
// reference directly: on short periodic inputs the budget rarely hands over.
TEST(FoldedTwoWay, MatchesTheReference) {
    std::mt19937 rng(11);
    const auto same = [](std::uint8_t a, std::uint8_t b) noexcept { return a == b; };
    for (int round = 0; round < 5000; ++round) {
        Bytes haystack(rng() % 60);
        for (auto& b : haystack) {
            b = static_cast<std::uint8_t>("aAbB@`"[rng() % 6]);
        }
        Bytes needle(rng() % 6);
        for (auto& b : needle) {
            b = static_cast<std::uint8_t>("aAbB@`"[rng() % 6]);
        }
        const ByteRange h = range_of(haystack);
        const ByteRange x = range_of(needle);
        ASSERT_EQ((detail::two_way_find_with<detail::Direction::first, true>(h, x, same)),
                  folded_find(haystack, needle));
        ASSERT_EQ((detail::two_way_find_with<detail::Direction::last, true>(h, x, same)),
                  folded_rfind(haystack, needle));
    }
}

// Every folded occurrence, non-overlapping or every start.
std::vector<std::uint64_t> folded_matches(const Bytes& haystack, const Bytes& needle,
                                          bool overlapping) {
    const Bytes h = lowered(haystack);
    const Bytes x = lowered(needle);
    std::vector<std::uint64_t> out;
    const std::size_t n = h.size();
    const std::size_t m = x.size();
    std::size_t p = 0;
    while (m <= n && p <= n - m) {
        if (std::equal(x.begin(), x.end(), h.begin() + static_cast<std::ptrdiff_t>(p))) {
            out.push_back(p);
            p += overlapping || m == 0 ? 1 : m;
        } else {
            ++p;
        }
    }
    return out;
}

TEST(FoldedMatchScan, EveryOccurrenceAndTheCount) {
    std::mt19937 rng(3);
    for (int round = 0; round < 3000; ++round) {
        Bytes haystack(rng() % 300);
        for (auto& b : haystack) {
            b = static_cast<std::uint8_t>("aAbB@`"[rng() % (2 + rng() % 5)]);
        }
        Bytes needle(rng() % 7);
        for (auto& b : needle) {
            b = static_cast<std::uint8_t>("aAbB@`"[rng() % (2 + rng() % 5)]);
        }
        const bool overlapping = (rng() & 1) != 0;
        const std::vector<std::uint64_t> want = folded_matches(haystack, needle, overlapping);
        MatchScan scan(range_of(haystack), range_of(needle), overlapping, true);
        std::vector<std::uint64_t> got(want.size() + 1);
        got.resize(scan.next_batch(got));
        ASSERT_EQ(got, want) << "round " << round;
        ASSERT_EQ(MatchScan(range_of(haystack), range_of(needle), overlapping, true).count_rest(),
                  want.size())
            << "round " << round;
        ASSERT_EQ(count_matches(range_of(haystack), range_of(needle), overlapping, true),
                  want.size())
            << "round " << round;
    }
}

TEST(FoldedMatchScan, OverlappingScanOfAMixedCasePeriodIsLinear) {
    // "aAaA..." has period 1 once folded: the chained test adds one byte per
    // match instead of comparing the whole needle again.
    const Bytes haystack = repeated("aA", 100000);
    const Bytes needle = repeated("Aa", 100);
    EXPECT_EQ(short_period(range_of(needle), true), 1u);
    EXPECT_EQ(short_period(range_of(needle), false), 2u);
    detail::g_search_probe = {};
    EXPECT_EQ(MatchScan(range_of(haystack), range_of(needle), true, true).count_rest(),
              haystack.size() - needle.size() + 1);
    EXPECT_LE(detail::g_search_probe.compared, 16 * (haystack.size() + needle.size()));
}

}  // namespace
}  // namespace qarvo::test
