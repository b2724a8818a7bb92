// find_two and find_three on long ranges, where the wide variants test one
// or two needle bytes at every position and check the others only in
// blocks that pass: every choice of tested bytes (by rank: a byte that
// text does not use alone, else the two rarer ones) at every position and
// start address, false alarms on every lane, and the hand-over to a filter
// of more bytes after too many of them, with the match on either side of it.
// The 16-byte variants run the same cases through their fixed blocks.
// Also the byte tested alone on a guess (one text uses rarely) in long
// ranges: the path taken where the rank and the length call for it and
// nowhere else (the probe of the core's test build, probe.hpp), given up on
// decoys, and the last blocks of such a range at a guard page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "backend_fixture.hpp"
#include "byte_rank.hpp"
#include "filter_policy.hpp"
#include "guarded_page.hpp"
#include "planting.hpp"
#include "probe.hpp"
#include "variants.hpp"

namespace qarvo::test {
namespace {

class Sieve : public EveryBackend {};

Bytes bytes_of(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// '|' is a byte text does not use; ' ' the most common; letters between.
// Each needle puts the lone byte, or the most common one (checked, not
// tested), at another offset.
const std::string_view kNeedles[] = {"|x",  "x|",  "xy",  "yx",  "  ",  "|xy", "x|y",
                                     "xy|", " qz", "q z", "qz ", "xxx", "|||"};

TEST_P(Sieve, EveryChoiceOfTestedBytesAtEveryPositionAndStartAddress) {
    constexpr std::size_t kLength = 1100;
    constexpr std::size_t kWidest = 64;
    for (const std::string_view text : kNeedles) {
        const Bytes needle = bytes_of(text);
        const std::uint8_t filler = filler_for(needle, '.');
        // One buffer, so that the range can start at every address modulo 64.
        std::vector<std::uint8_t> buffer(kLength + 2 * kWidest, filler);
        const std::size_t base =
            (kWidest - reinterpret_cast<std::uintptr_t>(buffer.data()) % kWidest) % kWidest;
        // Every seventh start address: each residue of the aligned loads
        // against the needle's offsets comes up across the needles.
        for (std::size_t start = 0; start < kWidest; start += 7) {
            std::span<std::uint8_t> haystack(buffer.data() + base + start, kLength);
            ASSERT_EQ(find_by_length(haystack, needle), SearchResult::not_found())
                << "needle \"" << text << "\", start " << start;
            for (std::size_t p = 0; p + needle.size() <= kLength; ++p) {
                plant(haystack, p, needle);
                ASSERT_EQ(find_by_length(haystack, needle), SearchResult::at(p))
                    << "needle \"" << text << "\", start " << start << ", at " << p;
                std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), needle.size(),
                            filler);
            }
        }
    }
}

// A haystack repeating `decoy`, which holds no occurrence, with the needle
// planted at the positions below: results against the plain scan. Any occurrence
// then overlaps the plant (one next to a decoy can complete another, earlier
// one), so the scan looks at the plant and the m - 1 bytes on either side.
void expect_decoys_match_naive(const Search& search, std::string_view decoy,
                               std::span<const std::uint8_t> needle, std::size_t n) {
    const std::size_t m = needle.size();
    Bytes haystack(n);
    for (std::size_t k = 0; k < n; ++k) {
        haystack[k] = static_cast<std::uint8_t>(decoy[k % decoy.size()]);
    }
    const Bytes clean = haystack;
    ASSERT_EQ(naive_find(haystack, needle), SearchResult::not_found()) << "decoy " << decoy;
    ASSERT_EQ(search(range_of(haystack)), SearchResult::not_found()) << "decoy " << decoy;
    // Every position in the first 1024 bytes, every seventh after (seven
    // is prime to every vector width, so each lane comes up again and again).
    for (std::size_t p = 0; p + m <= n; p += p < 1024 ? 1 : 7) {
        plant(haystack, p, needle);
        const std::size_t from = p < m - 1 ? 0 : p - (m - 1);
        const std::size_t to = std::min(n, p + 2 * m - 1);
        const SearchResult near =
            naive_find(std::span<const std::uint8_t>(haystack).subspan(from, to - from), needle);
        ASSERT_TRUE(near.found());
        ASSERT_EQ(search(range_of(haystack)), SearchResult::at(from + near.offset()))
            << "decoy \"" << decoy << "\", length " << n << ", needle at " << p;
        std::copy_n(clean.begin() + static_cast<std::ptrdiff_t>(p), m,
                    haystack.begin() + static_cast<std::ptrdiff_t>(p));
    }
}

TEST_P(Sieve, FalseAlarmsOnEveryLaneAndTheHandOverToMoreBytes) {
    // Each decoy puts a candidate of the first filter on every lane (or every
    // second or third) and fails the check, so the search gives up on that
    // filter after some passes; some decoys fail the next filter too.
    // 12000 bytes are past both hand-overs on AVX2 and AVX-512 (about 5 and
    // 10 KB in on AVX-512), and the needle is planted on positions before,
    // at and after them.
    struct Case {
        std::string_view needle;
        std::string_view decoy;
    };
    const Case cases[] = {
        {"x|", "|"},    {"x|", "y|"},   {"|x", "|y"},   {"x|y", "|"},   {"x|y", "x|."},
        {"x|y", ".|y"}, {"xy|", "xy."}, {"|xy", "|x."}, {"qz ", "qz."}, {"q z", "q.z"},
        {" qz", ". z"}, {"xxx", "xx."}, {"xxy", "xxx"}, {"||x", "||."},
    };
    for (const Case& c : cases) {
        const Bytes needle = bytes_of(c.needle);
        const SearchRoutines& r = routines();
        const Search search = [&r, &needle](ByteRange h) {
            return needle.size() == 2 ? r.find_two(h, needle[0], needle[1])
                                      : r.find_three(h, needle[0], needle[1], needle[2]);
        };
        expect_decoys_match_naive(search, c.decoy, needle, 12000);
        ASSERT_FALSE(HasFatalFailure()) << "needle \"" << c.needle << "\"";
    }
}

TEST_P(Sieve, PastEveryHandOverTheLastBlocksStayInsideTheRange) {
    // Decoys that make find_three give up its one- and two-byte filters, so
    // the last filter (all three bytes, which reads a vector beyond each
    // block) runs to the end of a range that ends at a guard page. Every
    // length over 4 of the widest vectors puts the range's end at another
    // place in the last blocks; a read past it faults.
    struct Case {
        std::string_view needle;
        std::string_view decoy;
    };
    const Case cases[] = {{"xxx", "xx."}, {"xxy", "xxx"}, {"x|y", "x|."}, {"q z", "q.z"}};
    constexpr std::size_t kLength = 12000;
    GuardedPage page(4);
    ASSERT_TRUE(page.ok());
    ASSERT_GE(page.size(), kLength + 256);
    const SearchRoutines& r = routines();
    for (const Case& c : cases) {
        const Bytes needle = bytes_of(c.needle);
        for (std::size_t n = kLength; n <= kLength + 256; ++n) {
            const std::span<std::uint8_t> haystack = page.last(n);
            for (std::size_t k = 0; k < n; ++k) {
                haystack[k] = static_cast<std::uint8_t>(c.decoy[k % c.decoy.size()]);
            }
            const ByteRange h{haystack.data(), n};
            ASSERT_EQ(r.find_three(h, needle[0], needle[1], needle[2]), SearchResult::not_found())
                << "needle \"" << c.needle << "\", length " << n;
            // The needle at the very end, past the last block (the decoy
            // may complete an earlier occurrence with it).
            plant(haystack, n - 3, needle);
            ASSERT_EQ(r.find_three(h, needle[0], needle[1], needle[2]),
                      naive_find(std::span<const std::uint8_t>(haystack), needle))
                << "needle \"" << c.needle << "\", length " << n;
        }
    }
}

// The printable byte of highest rank below `below` (and at least `least`):
// the byte nearest the edge of a rank band, so that the tests follow the
// table and the thresholds rather than naming bytes.
std::uint8_t printable_ranked_below(std::uint8_t below, std::uint8_t least) {
    std::uint8_t best = 0;
    int best_rank = -1;
    for (unsigned b = 0x21; b < 0x7F; ++b) {
        const int rank = detail::kByteRank.of[b];
        if (rank >= least && rank < below && rank > best_rank) {
            best = static_cast<std::uint8_t>(b);
            best_rank = rank;
        }
    }
    EXPECT_GE(best_rank, 0) << "no printable byte ranked in [" << int{least} << ", " << int{below}
                            << ")";
    return best;
}

// The printable byte of lowest rank at or above `least`.
std::uint8_t printable_ranked_from(std::uint8_t least) {
    std::uint8_t best = 0;
    int best_rank = 256;
    for (unsigned b = 0x21; b < 0x7F; ++b) {
        const int rank = detail::kByteRank.of[b];
        if (rank >= least && rank < best_rank) {
            best = static_cast<std::uint8_t>(b);
            best_rank = rank;
        }
    }
    EXPECT_LT(best_rank, 256);
    return best;
}

class SieveGuess : public EveryBackend {
protected:
    // The wide variants, which run the sieve.
    bool wide() const { return detail::long_parts_for(GetParam())->has_pieces(); }

    SearchResult search(ByteRange h, const Bytes& needle) const {
        const SearchRoutines& r = routines();
        return needle.size() == 2 ? r.find_two(h, needle[0], needle[1])
                                  : r.find_three(h, needle[0], needle[1], needle[2]);
    }

    // The paths (probe.hpp) the search of `haystack` for `needle` took.
    detail::SearchProbe probed(const Bytes& haystack, const Bytes& needle) const {
        detail::g_search_probe = {};
        (void)search(range_of(haystack), needle);
        return detail::g_search_probe;
    }

    // Needles of two and three bytes whose rarest byte by rank is `rare`,
    // at each offset, the others 'e' and 'a' (common letters).
    static std::vector<Bytes> needles_around(std::uint8_t rare) {
        return {Bytes{rare, 'e'}, Bytes{'e', rare}, Bytes{rare, 'e', 'a'}, Bytes{'e', rare, 'a'},
                Bytes{'e', 'a', rare}};
    }
};

TEST_P(SieveGuess, TakenFromItsRankAndLengthOnly) {
    const std::uint8_t guessed = printable_ranked_below(detail::kLoneGuessRank, detail::kAlienRank);
    const std::uint8_t common = printable_ranked_from(detail::kLoneGuessRank);
    const std::uint8_t alien = printable_ranked_below(detail::kAlienRank, 0);
    ASSERT_NE(guessed, 0);
    ASSERT_NE(common, 0);
    ASSERT_NE(alien, 0);
    constexpr std::size_t kFrom = detail::kLoneGuessFrom;
    for (const std::size_t n : {kFrom - 1, kFrom, kFrom + 1000}) {
        const Bytes filler(n, '.');
        for (const std::uint8_t rare : {guessed, common, alien}) {
            for (const Bytes& needle : needles_around(rare)) {
                const detail::SearchProbe probe = probed(filler, needle);
                const bool expected = wide() && rare == guessed && n >= kFrom;
                EXPECT_EQ(probe.took(detail::SearchPath::kSieveGuessedLoneByte), expected)
                    << "rare byte '" << rare << "' at "
                    << (std::find(needle.begin(), needle.end(), rare) - needle.begin()) << " of "
                    << needle.size() << ", " << n << " bytes";
                // Nothing in '.' raises a false alarm: no filter gives up.
                EXPECT_FALSE(probe.took(detail::SearchPath::kSieveGaveUp));
            }
        }
    }
}

TEST_P(SieveGuess, EveryPositionWhereTheGuessHoldsAndWhereItIsGivenUp) {
    const std::uint8_t guessed = printable_ranked_below(detail::kLoneGuessRank, detail::kAlienRank);
    ASSERT_NE(guessed, 0);
    const std::string g(1, static_cast<char>(guessed));
    constexpr std::size_t kLength = detail::kLoneGuessFrom + 3000;
    for (const Bytes& needle : needles_around(guessed)) {
        // No decoy: the guess holds to the end.
        expect_decoys_match_naive([&](ByteRange h) { return search(h, needle); }, ".", needle,
                                  kLength);
        ASSERT_FALSE(HasFatalFailure());
        // The guessed byte on every lane (then every second and third), its
        // partners absent: a false alarm in every pass until the search
        // gives the guess up for more bytes.
        for (const std::string& decoy : {g, g + ".", g + ".."}) {
            if (wide()) {
                Bytes haystack(kLength);
                for (std::size_t k = 0; k < kLength; ++k) {
                    haystack[k] = static_cast<std::uint8_t>(decoy[k % decoy.size()]);
                }
                EXPECT_TRUE(probed(haystack, needle).took(detail::SearchPath::kSieveGaveUp))
                    << "decoy \"" << decoy << "\"";
            }
            expect_decoys_match_naive([&](ByteRange h) { return search(h, needle); }, decoy, needle,
                                      kLength);
            ASSERT_FALSE(HasFatalFailure()) << "decoy \"" << decoy << "\"";
        }
    }
}

TEST_P(SieveGuess, TheLastBlocksStayInsideTheRange) {
    // Ranges long enough for the guess that end at a guard page, at every
    // length over four of the widest vectors: a read past the end faults.
    // Once with the guess holding, once given up on decoys.
    const std::uint8_t guessed = printable_ranked_below(detail::kLoneGuessRank, detail::kAlienRank);
    ASSERT_NE(guessed, 0);
    const std::string g(1, static_cast<char>(guessed));
    constexpr std::size_t kLength = detail::kLoneGuessFrom + 512;
    GuardedPage page(4);
    ASSERT_TRUE(page.ok());
    ASSERT_GE(page.size(), kLength + 256);
    for (const Bytes& needle : needles_around(guessed)) {
        for (const std::string& decoy : {std::string("."), g + "."}) {
            for (std::size_t n = kLength; n <= kLength + 256; ++n) {
                const std::span<std::uint8_t> haystack = page.last(n);
                for (std::size_t k = 0; k < n; ++k) {
                    haystack[k] = static_cast<std::uint8_t>(decoy[k % decoy.size()]);
                }
                const ByteRange h{haystack.data(), n};
                ASSERT_EQ(search(h, needle), SearchResult::not_found())
                    << "decoy \"" << decoy << "\", length " << n;
                plant(haystack, n - needle.size(), needle);
                ASSERT_EQ(search(h, needle),
                          naive_find(std::span<const std::uint8_t>(haystack), needle))
                    << "decoy \"" << decoy << "\", length " << n;
            }
        }
    }
}

QARVO_FOR_EVERY_BACKEND(Sieve);
QARVO_FOR_EVERY_BACKEND(SieveGuess);

}  // namespace
}  // namespace qarvo::test
