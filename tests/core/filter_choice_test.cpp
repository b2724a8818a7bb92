// find_n's choice of filter bytes and its way out of a weak filter, and
// rfind_n's after false alarms, on every variant: haystacks of decoys that
// steer the search onto each path (the
// plain prefix giving way; two anchors taking a third; one, two or three
// anchors chosen by rank; the re-pick from counted haystack bytes after false
// alarms, after a spent budget, or after the first stretch of a long
// haystack, on single bytes, on a rare pair of adjacent ones or on the byte
// where the haystack's lines depart from the needle; Two-Way when
// the re-picked filter is weak too), with the needle
// planted at every position among them, against the naive scan. Each input
// also checks, through the path probe of the core's test build (probe.hpp),
// that the search took the path it was built to force: a haystack too short
// for that path, or a change to the choice, fails here rather than leaving
// the path untested. Also the selection helpers themselves.
#define QARVO_ISA_NAMESPACE isa_filter_choice_test
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "n.hpp"
#include "planting.hpp"
#include "probe.hpp"
#include "rare_bytes.hpp"
#include "variants.hpp"

namespace qarvo::test {
namespace {

using detail::SearchPath;

// Haystacks long enough for the wide variants' ranked search, with room
// for its steps after the plain prefix.
constexpr std::size_t kRanked = detail::kRareAnchorsFrom + 600;

// One needle byte as an anchor of the scalar backend's filter.
detail::Anchor<detail::Scalar> scalar_anchor(ByteRange needle, std::size_t offset) {
    return detail::Anchor<detail::Scalar>::at(needle, offset);
}

Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// The text repeated to n bytes.
Bytes repeated(std::string_view text, std::size_t n) {
    Bytes out(n);
    for (std::size_t k = 0; k < n; ++k) {
        out[k] = static_cast<std::uint8_t>(text[k % text.size()]);
    }
    return out;
}

// Copies of the needle with byte k replaced by '#', k = 0, 1, ..., m - 1 in
// turn, one every `every` bytes: whichever bytes a filter tests, some decoys
// pass it and its check and fail only in full.
Bytes near_misses(const Bytes& needle, std::size_t n, std::size_t every, std::uint8_t filler) {
    Bytes haystack(n, filler);
    std::size_t k = 0;
    for (std::size_t at = 0; at + needle.size() <= n; at += every) {
        Bytes decoy = needle;
        decoy[k] = '#';
        plant(haystack, at, decoy);
        k = (k + 1) % needle.size();
    }
    return haystack;
}

// Whether the plain prefix (first, second and last byte over `positions`
// positions, candidates compared in full) stops at its misses before the
// end of those positions, by the rule it is meant to follow.
bool plain_prefix_gives_way(const Bytes& haystack, const Bytes& needle, std::size_t positions) {
    const std::size_t m = needle.size();
    std::size_t misses = 0;
    for (std::size_t p = 0; p < positions && p + m <= haystack.size(); ++p) {
        if (haystack[p] != needle[0] || haystack[p + 1] != needle[1] ||
            haystack[p + m - 1] != needle[m - 1]) {
            continue;
        }
        if (std::equal(needle.begin(), needle.end(),
                       haystack.begin() + static_cast<std::ptrdiff_t>(p))) {
            return false;
        }
        ++misses;
        if (misses == detail::kPlainMisses || misses * m > detail::kPlainBytes) {
            return true;
        }
    }
    return false;
}

class FilterChoice : public EveryBackend {
protected:
    // Whether the variant under test chooses its filter bytes (the wide
    // ones, which have the pieces of the ranked search).
    bool chooses_bytes() const { return detail::long_parts_for(GetParam())->has_pieces(); }

    // The width of the variant's vectors, in bytes.
    std::size_t vector_bytes() const { return detail::long_parts_for(GetParam())->vector_bytes; }

    // Whether the search of `haystack` for `needle` took `path`.
    bool took(const Bytes& haystack, const Bytes& needle, SearchPath path) const {
        detail::g_search_probe = {};
        (void)routines().find_n(range_of(haystack), range_of(needle));
        return detail::g_search_probe.took(path);
    }

    // That the search of the decoys takes `path` on the wide variants (on
    // the 16-byte ones too with `every_variant`).
    void expect_path(const Bytes& decoys, const Bytes& needle, SearchPath path,
                     bool every_variant = false) const {
        if (chooses_bytes() || every_variant) {
            EXPECT_TRUE(took(decoys, needle, path))
                << "path " << static_cast<unsigned>(path) << " not taken, paths "
                << detail::g_search_probe.paths << ", needle of " << needle.size() << " in "
                << decoys.size() << " bytes";
        }
    }

    // The needle at each position p of the decoys (every position up to
    // `dense`, then every `stride`-th, and the last few), checked against the
    // naive scan: it overwrites the decoys there, and may complete an earlier
    // occurrence with them, which the naive scan then finds too.
    void expect_planted_everywhere(const Bytes& decoys, const Bytes& needle, std::size_t dense,
                                   std::size_t stride) const {
        const std::size_t m = needle.size();
        const auto search = [&](const Bytes& haystack) {
            return routines().find_n(range_of(haystack), range_of(needle));
        };
        ASSERT_EQ(search(decoys), naive_find(decoys, needle)) << "decoys alone, needle of " << m;
        Bytes haystack = decoys;
        for (std::size_t p = 0; p + m <= haystack.size();
             p += (p < dense || p + m + 70 > haystack.size()) ? 1 : stride) {
            plant(haystack, p, needle);
            ASSERT_EQ(search(haystack), naive_find(haystack, needle))
                << "needle of " << m << " at " << p << " in " << haystack.size() << " bytes";
            std::copy_n(decoys.begin() + static_cast<std::ptrdiff_t>(p), m,
                        haystack.begin() + static_cast<std::ptrdiff_t>(p));
        }
    }
};

TEST_P(FilterChoice, OneAnchorOnAByteThatTextDoesNotUse) {
    // '|' ranks as a byte text does not use: the wide variants test it alone
    // and leave the other anchors to the check. Decoys hold it too.
    const Bytes needle = bytes_of("the |line of text");
    const Bytes decoys = near_misses(needle, kRanked, 29, ' ');
    expect_path(decoys, needle, SearchPath::kRankedOneAnchor);
    expect_planted_everywhere(decoys, needle, 700, 23);
    const Bytes pipes = repeated("ab|cd", kRanked);
    const Bytes short_needle = bytes_of("b|cdX");
    expect_path(pipes, short_needle, SearchPath::kRankedOneAnchor);
    expect_planted_everywhere(pipes, short_needle, 700, 17);
}

TEST_P(FilterChoice, TwoAndThreeAnchorsOnLettersOfEachRank) {
    // Rare letters (two anchors tested), then common ones only (three).
    for (const auto& [text, path] :
         {std::pair{std::string_view("quick zebra jumps"), SearchPath::kRankedTwoAnchors},
          std::pair{std::string_view("the state of the art"), SearchPath::kRankedThreeAnchors},
          std::pair{std::string_view("etaoin"), SearchPath::kRankedThreeAnchors}}) {
        const Bytes needle = bytes_of(text);
        const Bytes decoys = near_misses(needle, kRanked, 23, 'e');
        expect_path(decoys, needle, path);
        expect_planted_everywhere(decoys, needle, 600, 19);
        ASSERT_FALSE(HasFatalFailure()) << text;
    }
}

TEST_P(FilterChoice, CountedBytesReplaceRankedOnesAfterFalseAlarms) {
    // In a run of 'z' (a rare letter by rank) every position passes the
    // anchors chosen by rank from "z..ze z..z"; the search counts the
    // haystack and filters on the 'e'. The shortest needle gets there by
    // false alarms where the full compares of one wide step's candidates
    // fit in the budget (vectors of 32 bytes); longer ones, and every one on
    // 64-byte vectors (a step of 256 candidates), by spending the budget
    // first.
    const Bytes run(kRanked, 'z');
    for (const std::size_t k : {2u, 5u, 40u, 150u}) {
        const SearchPath path = k == 2 && vector_bytes() <= 32
                                    ? SearchPath::kRecountedAfterFalseAlarms
                                    : SearchPath::kRecountedAfterSpentBudget;
        Bytes needle(2 * k + 1, 'z');
        needle[k] = 'e';
        expect_path(run, needle, path);
        expect_planted_everywhere(run, needle, 400, 41);
        ASSERT_FALSE(HasFatalFailure()) << "needle of " << needle.size();
        // The needle's rare byte next to its end, as in "zz..zezz".
        Bytes late(needle.size(), 'z');
        late[late.size() - 3] = 'e';
        expect_path(run, late, path);
        expect_planted_everywhere(run, late, 400, 41);
        ASSERT_FALSE(HasFatalFailure()) << "late 'e', needle of " << late.size();
    }
}

TEST_P(FilterChoice, TwoWayOrARarePairWhenNoByteIsRareInTheHaystack) {
    // Every needle byte is as common as the others in "qazqaz...": the
    // needles break the period late, after the bytes any filter tests (all
    // in step with the period), so candidates at every third position fail
    // late; they are long enough (over four bytes compared per position)
    // for the budget to run out. The 16-byte variants, whose filter is
    // fixed, hand over to Two-Way. The wide ones count the haystack after
    // false alarms and filter on the pair the break makes ("zz" and "za",
    // which the haystack never holds) where it lies among the pairs they
    // count (kPairsCounted); past them, as in the longest needle, the
    // counted filter is as weak as the ranked one, and once the budget is
    // spent a second time Two-Way answers for the rest.
    const Bytes decoys = repeated("qaz", kRanked);
    for (const std::size_t m : {14u, 32u, 50u}) {
        Bytes needle = repeated("qaz", m);
        needle[m - 2] = 'z';
        const bool pair_counted = chooses_bytes() && m - 2 < detail::kPairsCounted;
        expect_path(decoys, needle,
                    pair_counted ? SearchPath::kCountedPairAnchors : SearchPath::kTwoWay, true);
        expect_planted_everywhere(decoys, needle, 400, 37);
        ASSERT_FALSE(HasFatalFailure()) << "needle of " << m;
    }
}

TEST_P(FilterChoice, CountedPairOfAdjacentBytesWhereEachByteIsCommon) {
    // Lines of a package log: every byte of "nstalted" is common, and the
    // needle shares all but its 't' at offset 5 with the "installed" of each
    // line, so any three single bytes the count picks pass once a line. The
    // pair "lt" (offsets 4 and 5) never occurs: the recount filters on it.
    const Bytes lines =
        repeated("2025-06-24 14:36:25 status installed libc-bin:amd64 2.36-9+deb12u10\n", kRanked);
    const Bytes needle = bytes_of("nstalted");
    expect_path(lines, needle, SearchPath::kRecountedAfterFalseAlarms);
    expect_path(lines, needle, SearchPath::kCountedPairAnchors);
    expect_planted_everywhere(lines, needle, 700, 13);
    // Hex digits: three single digits seldom pass together, so no pair is
    // counted (the count would cost more than it saves).
    Bytes digits(kRanked);
    std::mt19937 random(7);
    for (std::uint8_t& byte : digits) {
        byte = static_cast<std::uint8_t>("0123456789abcdef"[random() % 16]);
    }
    const Bytes digest = bytes_of("0f3a9c55d2e1b7f4");
    if (chooses_bytes()) {
        EXPECT_FALSE(took(digits, digest, SearchPath::kCountedPairAnchors));
    }
    expect_planted_everywhere(digits, digest, 300, 29);
}

TEST_P(FilterChoice, TheByteWhereTheLinesDepartFromTheNeedleWhenNoPairIsRare) {
    // Records of one shape, and a needle cut from one with its ':' changed
    // to ',': every single byte and every adjacent pair of it occurs on
    // each line, so the counted anchors pass once a line and fail in full.
    // The lines depart from the needle at that byte; filtered on it, the
    // search compares far fewer windows than one per line. A haystack that
    // leaves less than kDepartureFrom bytes after the recount is not worth
    // the look.
    const std::string_view line = R"({"id": 7, "user": {"name": "ann", "city": "Rome"}, )"
                                  R"("level": "info"})"
                                  "\n";
    const Bytes needle = bytes_of(R"(, "user", {"na)");
    const Bytes records = repeated(line, kRanked + detail::kDepartureFrom + 4096);
    const std::size_t lines = records.size() / line.size();
    detail::g_search_probe = {};
    EXPECT_EQ(routines().find_n(range_of(records), range_of(needle)), SearchResult::not_found());
    if (chooses_bytes()) {
        EXPECT_TRUE(detail::g_search_probe.took(SearchPath::kDepartureAnchor))
            << "paths " << detail::g_search_probe.paths;
        EXPECT_LT(detail::g_search_probe.compared, lines * needle.size() / 8);
        EXPECT_FALSE(took(repeated(line, kRanked), needle, SearchPath::kDepartureAnchor));
    }
    // The windows compared to find the departure stay inside the range: the
    // records end at an inaccessible page, the needle planted at their end.
    GuardedPage page(records.size() / 4096 + 1);
    ASSERT_TRUE(page.ok());
    Bytes last_planted = records;
    plant(last_planted, last_planted.size() - needle.size(), needle);
    const std::span<const std::uint8_t> guarded = page.at_end(last_planted);
    EXPECT_EQ(routines().find_n(ByteRange{guarded.data(), guarded.size()}, range_of(needle)),
              SearchResult::at(guarded.size() - needle.size()));
    expect_planted_everywhere(records, needle, 300, 997);
}

TEST_P(FilterChoice, ResultsStayExactAcrossTheRepick) {
    // Near misses dense enough to make any filter weak, at every spacing
    // from one per 5 bytes to one per 40, in a haystack long enough for the
    // re-pick to happen part way through.
    const Bytes needle = bytes_of("fox and hound");
    for (std::size_t every = 5; every <= 40; every += 7) {
        const Bytes decoys = near_misses(needle, kRanked, every, 'o');
        expect_path(decoys, needle, SearchPath::kRecountedAfterFalseAlarms);
        expect_planted_everywhere(decoys, needle, 300, 61);
        ASSERT_FALSE(HasFatalFailure()) << "a decoy every " << every;
    }
}

TEST_P(FilterChoice, LongHaystacksChooseAgainByASampleOfTheirStart) {
    // Over 256 KiB the wide variants search the first 16 KiB with the filter
    // the rank table chose, then count a sample of those bytes to choose
    // again. Here that start is all 'a', so the 'b' of the needle looks
    // absent and is tested alone; from 280 KiB on the haystack is all 'b',
    // every position passes, and the search must move to the 'c'. The needle
    // holds the haystack's only 'c', so it occurs exactly where it is planted.
    const std::size_t n = 400 * 1024;
    const std::size_t turn = 280 * 1024;
    Bytes decoys(n, 'a');
    std::fill(decoys.begin() + static_cast<std::ptrdiff_t>(turn), decoys.end(), 'b');
    const Bytes needle = bytes_of("bbbbbcbb");
    const std::size_t m = needle.size();
    const auto search = [&](const Bytes& haystack) {
        return routines().find_n(range_of(haystack), range_of(needle));
    };
    ASSERT_EQ(search(decoys), SearchResult::not_found());
    expect_path(decoys, needle, SearchPath::kCountedAfterRankedPrefix);
    expect_path(decoys, needle, SearchPath::kRecountedAfterFalseAlarms);
    Bytes haystack = decoys;
    for (std::size_t p = 0; p + m <= n;
         p += (p < 200 || p + 200 > n || (p > turn - 200 && p < turn + 200)) ? 1 : 4099) {
        plant(haystack, p, needle);
        ASSERT_EQ(search(haystack), SearchResult::at(p)) << "needle at " << p;
        std::copy_n(decoys.begin() + static_cast<std::ptrdiff_t>(p), m,
                    haystack.begin() + static_cast<std::ptrdiff_t>(p));
    }
}

TEST_P(FilterChoice, ReverseCountsAfterFalseAlarmsOfALoneRankedAnchor) {
    // rfind_n, on every variant: the needle's '#' ranks as a byte text does
    // not use and is tested alone, but here it is every fourth byte. The
    // other anchors reject each of its windows before any is compared in
    // full, so only the false alarms show the filter weak; the search counts
    // the bytes below the cursor and filters on the letters the haystack
    // lacks. The needle at every position (then every 37th), against the
    // naive scan: above the count, at it and below.
    const Bytes decoys = repeated("#abc", 12000);
    const Bytes needle = bytes_of("#etoinsh");
    const std::size_t m = needle.size();
    const auto search = [&](const Bytes& haystack) {
        return routines().rfind_n(range_of(haystack), range_of(needle));
    };
    detail::g_search_probe = {};
    ASSERT_EQ(search(decoys), SearchResult::not_found());
    EXPECT_TRUE(detail::g_search_probe.took(SearchPath::kRecountedAfterFalseAlarms))
        << "paths " << detail::g_search_probe.paths;
    EXPECT_EQ(detail::g_search_probe.compared, std::size_t{0});
    Bytes haystack = decoys;
    for (std::size_t p = 0; p + m <= haystack.size();
         p += (p < 300 || p + 6000 > haystack.size()) ? std::size_t{1} : std::size_t{37}) {
        plant(haystack, p, needle);
        ASSERT_EQ(search(haystack), naive_rfind(haystack, needle)) << "needle at " << p;
        std::copy_n(decoys.begin() + static_cast<std::ptrdiff_t>(p), m,
                    haystack.begin() + static_cast<std::ptrdiff_t>(p));
    }
}

TEST_P(FilterChoice, ReverseCountsAgainWhereTheCountedBytesTurnCommon) {
    // rfind_n, on every variant. Above, the ranked filter proves weak as in
    // the test before, and the count below the cursor finds none of the
    // needle's letters: they are its new anchors. Below, the needle with its
    // '#' turned to 'X' repeats, so those letters pass at every period and
    // each candidate fails only in full: false alarms again, and a second
    // count finds '#' absent. The needle planted in both parts and at the
    // border, against the naive scan.
    const Bytes above = repeated("#abc", 12000);
    const Bytes below = repeated("Xetoinsh", 12000);
    Bytes decoys = below;
    decoys.insert(decoys.end(), above.begin(), above.end());
    const Bytes needle = bytes_of("#etoinsh");
    const std::size_t m = needle.size();
    const auto search = [&](const Bytes& haystack) {
        return routines().rfind_n(range_of(haystack), range_of(needle));
    };
    detail::g_search_probe = {};
    ASSERT_EQ(search(decoys), SearchResult::not_found());
    EXPECT_TRUE(detail::g_search_probe.took(SearchPath::kRecountedAfterFalseAlarms))
        << "paths " << detail::g_search_probe.paths;
    EXPECT_TRUE(detail::g_search_probe.took(SearchPath::kRecountedAgain))
        << "paths " << detail::g_search_probe.paths;
    EXPECT_FALSE(detail::g_search_probe.took(SearchPath::kTwoWay))
        << "paths " << detail::g_search_probe.paths;
    Bytes haystack = decoys;
    for (const std::size_t p :
         {std::size_t{0}, std::size_t{3}, std::size_t{4000}, below.size() - m - 1, below.size() - 3,
          below.size(), below.size() + 5000, decoys.size() - m}) {
        plant(haystack, p, needle);
        ASSERT_EQ(search(haystack), naive_rfind(haystack, needle)) << "needle at " << p;
        std::copy_n(decoys.begin() + static_cast<std::ptrdiff_t>(p), m,
                    haystack.begin() + static_cast<std::ptrdiff_t>(p));
    }
}

TEST_P(FilterChoice, PlainPrefixGivesWayAfterItsMisses) {
    // The wide variants first test the needle's first, second and last
    // bytes over a few hundred positions, comparing each candidate in full,
    // and stop after a few candidates that fail. Decoys that pass those
    // three bytes, none to many, spaced so that the stop falls at different
    // block offsets; haystacks below and above the length from which the
    // filter bytes are chosen by rank, and above the one from which the
    // prefix is longest (fewer cases there: the naive scan is long); the
    // needle at every early position.
    const Bytes needle = bytes_of("then a kind of verb");
    Bytes decoy = needle;
    decoy[9] = '#';
    for (const std::size_t n : {1500u, 6000u, 20000u}) {
        const bool few = n > 10000;
        for (const std::size_t decoys : {0u, 1u, 7u, 8u, 9u, 30u}) {
            if (few && decoys != 0 && decoys != 8 && decoys != 30) {
                continue;
            }
            for (const std::size_t every : {3u, 20u, 41u}) {
                if (few && every != 20) {
                    continue;
                }
                Bytes haystack(n, 'e');
                for (std::size_t k = 0; k < decoys && k * every + needle.size() <= n; ++k) {
                    plant(haystack, 1 + k * every, decoy);
                }
                // The prefix gives way at its kPlainMisses-th failing
                // candidate (or after kPlainBytes bytes compared), when that
                // lies within the positions it examines, and only then.
                // Decoys closer than the needle's length cut one another
                // short, so the candidates are counted, not the decoys.
                const std::size_t positions =
                    n < detail::kPartnerFrom ? detail::kShortPlainPrefix : detail::kPlainPrefix;
                const bool gives_way = plain_prefix_gives_way(haystack, needle, positions);
                if (chooses_bytes()) {
                    EXPECT_EQ(took(haystack, needle, SearchPath::kPlainPrefixGaveWay), gives_way)
                        << n << " bytes, " << decoys << " decoys every " << every;
                }
                expect_planted_everywhere(haystack, needle, 900, 37);
                ASSERT_FALSE(HasFatalFailure())
                    << n << " bytes, " << decoys << " decoys every " << every;
            }
        }
    }
}

TEST_P(FilterChoice, ShortHaystacksLeaveTwoAnchorsForThreeAfterFalseAlarms) {
    // Below the length from which the filter bytes are chosen by rank, the
    // wide variants test two needle bytes at every position, the likely
    // rarest inner byte and the last (the one before it when the last is a
    // space, an 'e', a Cyrillic lead byte or a NUL; from 4 KiB on, the
    // likely rarest of the first, the last and the first inner bytes), and
    // after a few false alarms a third. Decoys that differ from the needle
    // in its first or second byte (or, where the last is not tested, in the
    // last) only pass the two, so each wide step raises a false alarm until
    // the hand-over; spaced every 5 to 60 bytes, it falls at different
    // steps, or never. Haystacks of 300 bytes to just under the ranked
    // search's 16 KiB, the needle at every position (every few in the
    // longest).
    for (const std::string_view text : {"wxyz", "quick fox", "jumped over the lazy dog",
                                        "\xd0\xbd\xd0\xb8\n\xd1\x81\xd0", "lazy the "}) {
        const Bytes needle = bytes_of(text);
        const std::size_t m = needle.size();
        const std::size_t broken[3] = {0, 1, m - 1};
        for (const std::size_t n : {300u, 1024u, 4095u, 4096u, 16383u}) {
            for (const std::size_t every : {5u, 17u, 60u}) {
                Bytes decoys(n, '.');
                std::size_t k = 0;
                for (std::size_t at = 0; at + needle.size() <= n; at += every, ++k) {
                    Bytes decoy = needle;
                    decoy[broken[k % 3]] = '#';
                    plant(decoys, at, decoy);
                }
                expect_planted_everywhere(decoys, needle, n < 10000 ? n : 600, 97);
                ASSERT_FALSE(HasFatalFailure())
                    << text << ", " << n << " bytes, a decoy every " << every;
            }
            // Decoys one to a wide step (4W candidates), each rejected by the
            // third anchor or the check, or failing in full: two steps in
            // three are false alarms, and the third anchor joins within a
            // few KiB. (A step that also holds a decoy failing in full is
            // no false alarm; nor is one of dense decoys, which overlap.)
            if (n >= 4095) {
                Bytes sparse(n, '.');
                std::size_t k = 0;
                for (std::size_t at = 0; at + m <= n; at += 4 * vector_bytes() + 5, ++k) {
                    Bytes decoy = needle;
                    decoy[broken[k % 3]] = '#';
                    plant(sparse, at, decoy);
                }
                expect_path(sparse, needle, SearchPath::kUnrankedThirdAnchor);
            }
        }
    }
}

QARVO_FOR_EVERY_BACKEND(FilterChoice);

TEST(RareBytes, AByteAbsentFromTheSampleIsTestedAloneOnlyWhenRareNearbyOrBesideACommonOne) {
    // A byte the sample lacks may still be common further on: it is tested
    // alone when a wider window confirms it rare, or when the second anchor
    // would let through much anyway.
    using V = detail::Scalar;
    const Bytes needle = bytes_of("xyzw");
    const ByteRange range = range_of(needle);
    const detail::Filter<V> filter{scalar_anchor(range, 0), scalar_anchor(range, 1),
                                   scalar_anchor(range, 2), scalar_anchor(range, 3)};
    const auto tested = [&](std::uint16_t first, std::uint16_t second, bool rare_nearby) {
        detail::ByteCounts counts{};
        counts.of[std::uint8_t{'x'}] = first;
        counts.of[std::uint8_t{'y'}] = second;
        return detail::anchors_to_test_by_count(filter, counts, rare_nearby);
    };
    constexpr std::size_t S = detail::kSampleBytes;
    EXPECT_EQ(tested(0, S, false), 1u);          // a run of the second byte
    EXPECT_EQ(tested(0, S / 8 + 1, false), 1u);  // the second lets through over 1 in 8
    EXPECT_EQ(tested(0, S / 8, false), 2u);      // selective enough to test as well
    EXPECT_EQ(tested(0, 3, false), 2u);          // prose: a full stop absent, a 'b' or two
    EXPECT_EQ(tested(0, 3, true), 1u);           // a byte rare in the window as well
    EXPECT_EQ(tested(1, 100, true), 2u);         // in the sample: the count decides
    EXPECT_EQ(tested(1, 100, false), 2u);        // 1 * 100 * 2048 <= 512 * 512
    EXPECT_EQ(tested(2, 100, false), 3u);        // 2 * 100 * 2048 > 512 * 512
}

TEST(RareBytes, NeedleCountsEqualTheTableForEveryScoredByte) {
    // The counts of the needle bytes that rarest_in_sample scores (those
    // below the scan limit, and the last), by vector compares for a short
    // needle and from the table for a long one or a sample cut by the end:
    // each must equal the table's, whatever else they hold.
    using V = detail::Scalar;
    Bytes data(3000);
    std::uint32_t state = 12345;
    for (std::uint8_t& byte : data) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>("0123456789abcdef\n\xd0"[(state >> 16) % 18]);
    }
    const auto check = [&](const Bytes& needle, std::size_t scan_limit, std::size_t from) {
        SCOPED_TRACE(testing::Message()
                     << "m " << needle.size() << " limit " << scan_limit << " from " << from);
        const detail::ByteCounts table =
            detail::ByteCounts::of_sample(data.data(), data.size(), from);
        const detail::ByteCounts counted =
            detail::needle_counts<V>(data.data(), data.size(), from, range_of(needle), scan_limit);
        const std::size_t m = needle.size();
        for (std::size_t k = 0; k < m; ++k) {
            if (k < scan_limit || k == m - 1) {
                EXPECT_EQ(counted.of[needle[k]], table.of[needle[k]]) << "offset " << k;
            }
        }
    };
    for (const std::size_t m : {std::size_t{4}, std::size_t{32}, detail::kVectorCounted,
                                detail::kVectorCounted + 1, std::size_t{300}}) {
        // Needle bytes from the data, one absent from it (counted 0), and
        // repeats (each distinct byte counted once).
        Bytes needle(data.begin() + 7, data.begin() + 7 + static_cast<std::ptrdiff_t>(m));
        needle[m / 2] = 'x';
        needle[m - 1] = needle[0];
        for (const std::size_t from :
             {std::size_t{0}, std::size_t{1}, std::size_t{1000}, data.size() - detail::kSampleBytes,
              data.size() - 100, data.size()}) {
            check(needle, 256, from);
            check(needle, 4, from);  // the last byte beyond the limit
        }
    }
}

TEST(RareBytes, WindowCountStopsPastTheLimitAndCoversItsBytesOnly) {
    // The kLoneWindow bytes before the cursor, or the first ones near the
    // start; at most kLoneLimit occurrences count as rare.
    using V = detail::Scalar;
    constexpr std::size_t kWindow = detail::kLoneWindow;
    constexpr std::size_t kLimit = detail::kLoneLimit;
    const Bytes needle = bytes_of("x...");
    const auto x = scalar_anchor(range_of(needle), 0);
    Bytes data(3 * kWindow, '.');
    const auto rare = [&](std::size_t i) {
        return detail::rare_in_window<V>(data.data(), data.size(), i, x);
    };
    EXPECT_TRUE(rare(2 * kWindow));
    // The limit, at both ends of the window before 2 * kWindow and between.
    data[kWindow] = 'x';
    data[2 * kWindow - 1] = 'x';
    for (std::size_t k = 2; k < kLimit; ++k) {
        data[kWindow + 100 * k] = 'x';
    }
    EXPECT_TRUE(rare(2 * kWindow));
    data[kWindow + 1] = 'x';  // one past the limit
    EXPECT_FALSE(rare(2 * kWindow));
    EXPECT_TRUE(rare(3 * kWindow));  // the window after them holds none
    // Near the start the first kWindow bytes count.
    for (std::size_t k = 0; k < kLimit; ++k) {
        data[kWindow - 1 - 7 * k] = 'x';
    }
    EXPECT_TRUE(rare(10));
    data[0] = 'x';
    EXPECT_FALSE(rare(10));
}

TEST(RareBytes, FourLowestScoresLowestFirstTiesToTheLowerOffset) {
    const Bytes needle = bytes_of("eeqexzeq");
    const ByteRange range = range_of(needle);
    const detail::RareOffsets rarest = detail::rarest_offsets(
        range, 256, [](std::uint8_t b) -> std::uint32_t { return b == 'e' ? 9 : b; });
    // Scores: e 9 (offsets 0, 1, 3, 6), q 113 (2, 7), x 120 (4), z 122 (5).
    EXPECT_EQ(rarest.at[0], 0u);
    EXPECT_EQ(rarest.at[1], 1u);
    EXPECT_EQ(rarest.at[2], 3u);
    EXPECT_EQ(rarest.at[3], 6u);
    const detail::RareOffsets inverted =
        detail::rarest_offsets(range, 256, [](std::uint8_t b) -> std::uint32_t { return 255 - b; });
    // z (5), x (4), q (2, 7).
    EXPECT_EQ(inverted.at[0], 5u);
    EXPECT_EQ(inverted.at[1], 4u);
    EXPECT_EQ(inverted.at[2], 2u);
    EXPECT_EQ(inverted.at[3], 7u);
}

TEST(RareBytes, LongNeedlesKeepTheFourLowestKeys) {
    // Past the first bytes a byte enters the kept four only when it beats the
    // fourth: against a full sort of (score, offset), on random needles of
    // every length around that point, scores with many ties, and needles
    // whose rarer bytes come last (each a new lowest key).
    std::mt19937_64 rng(17);
    const auto score = [](std::uint8_t b) -> std::uint32_t { return b % 7; };
    for (std::size_t m = 4; m <= 80; ++m) {
        for (int round = 0; round < 20; ++round) {
            Bytes needle(m);
            for (std::size_t k = 0; k < m; ++k) {
                needle[k] = round == 0 ? static_cast<std::uint8_t>(6 - k * 7 / m)
                                       : static_cast<std::uint8_t>(rng());
            }
            for (const std::size_t scan_limit : {std::size_t{4}, std::size_t{20}, m}) {
                std::vector<std::pair<std::uint32_t, std::size_t>> keys;
                for (std::size_t k = 0; k < m; ++k) {
                    if (k < scan_limit || k == m - 1) {
                        keys.emplace_back(score(needle[k]), k);
                    }
                }
                std::sort(keys.begin(), keys.end());
                const detail::RareOffsets rarest =
                    detail::rarest_offsets(range_of(needle), scan_limit, score);
                for (std::size_t j = 0; j < 4; ++j) {
                    ASSERT_EQ(rarest.at[j], keys[j].second)
                        << "m " << m << ", round " << round << ", limit " << scan_limit;
                }
            }
        }
    }
}

TEST(RareBytes, ScanLimitStillLooksAtTheLastByte) {
    Bytes needle(40, 'e');
    needle[30] = 'q';  // beyond the limit: not looked at
    needle[39] = 'z';  // the last byte: always looked at
    const detail::RareOffsets rarest = detail::rarest_by_rank(range_of(needle), 8);
    EXPECT_EQ(rarest.at[0], 39u);
    for (std::size_t k = 1; k < 4; ++k) {
        EXPECT_LT(rarest.at[k], 8u);
    }
}

TEST(RareBytes, RankTableOrdersTextAndUtf8Bytes) {
    const auto rank = [](unsigned b) { return detail::kByteRank.of[b]; };
    EXPECT_GT(rank(' '), rank('e'));
    EXPECT_GT(rank('e'), rank('q'));
    EXPECT_GT(rank('q'), rank('Q'));
    EXPECT_GT(rank('Q'), rank('|'));
    // Cyrillic and CJK lead bytes are more common than any continuation
    // byte; 'о' (D0 BE) more common than 'ъ' (D1 8A).
    EXPECT_GT(rank(0xD0), rank(0xBE));
    EXPECT_GT(rank(0xE4), rank(0xBE));
    EXPECT_GT(rank(0xBE), rank(0x8A));
    EXPECT_GT(rank(0x00), rank(0xFF));
}

TEST(RareBytes, SampleCountsEveryByteOfTheWindowOnly) {
    Bytes data(2000, 'a');
    data[99] = 'b';   // before the window
    data[100] = 'c';  // first byte of the window
    data[611] = 'd';  // last byte of the window (100 + 512 - 1)
    data[612] = 'e';  // after it
    const auto count = [](const detail::ByteCounts& counts, char c) {
        return counts.of[static_cast<unsigned char>(c)];
    };
    const detail::ByteCounts counts = detail::ByteCounts::of_sample(data.data(), data.size(), 100);
    EXPECT_EQ(count(counts, 'b'), 0u);
    EXPECT_EQ(count(counts, 'c'), 1u);
    EXPECT_EQ(count(counts, 'd'), 1u);
    EXPECT_EQ(count(counts, 'e'), 0u);
    EXPECT_EQ(count(counts, 'a'), 510u);
    // A window cut short by the end of the data: 1990 .. 1999, 10 bytes, two
    // of them counted after the four tables' steps.
    const detail::ByteCounts tail = detail::ByteCounts::of_sample(data.data(), data.size(), 1990);
    EXPECT_EQ(count(tail, 'a'), 10u);
}

}  // namespace
}  // namespace qarvo::test
