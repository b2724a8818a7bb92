// find_n on every variant: the dispatch of empty, short and too-long needles,
// every length and position for needles around the vector widths, false
// candidates of the three-byte filter before the match, and runs of one byte
// (needles of the run byte, and ones that differ from it in one byte).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>

#include "backend_fixture.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

class FindN : public EveryBackend {
protected:
    Search search_for(const Bytes& needle) const {
        const SearchRoutines& r = routines();
        return [&r, &needle](ByteRange h) { return r.find_n(h, range_of(needle)); };
    }
};

// A needle of m bytes with no repeated structure: 'A', 'B', 'C', ...
Bytes letters(std::size_t m) {
    Bytes needle(m);
    for (std::size_t k = 0; k < m; ++k) {
        needle[k] = static_cast<std::uint8_t>('A' + k % 26);
    }
    return needle;
}

// The needle with byte k replaced by filler: when k is neither 0, 1 nor m - 1,
// every place it is planted passes the three-byte filter and fails to verify.
Bytes with_byte_changed(Bytes needle, std::size_t k, std::uint8_t filler) {
    needle[k] = filler;
    return needle;
}

TEST_P(FindN, EmptyNeedleIsFoundAtZero) {
    const Bytes empty;
    EXPECT_EQ(routines().find_n(ByteRange{nullptr, 0}, ByteRange{nullptr, 0}), SearchResult::at(0));
    for (const std::size_t n : {1u, 16u, 1000u}) {
        const Bytes haystack(n, 'a');
        EXPECT_EQ(routines().find_n(range_of(haystack), range_of(empty)), SearchResult::at(0));
    }
}

TEST_P(FindN, NeedleAsLongAsTheHaystackMustEqualItWhole) {
    for (std::size_t n = 1; n <= 80; ++n) {
        const Bytes haystack = letters(n);
        ASSERT_EQ(search_for(haystack)(range_of(haystack)), SearchResult::at(0)) << n;
        for (std::size_t k = 0; k < n; ++k) {
            const Bytes needle = with_byte_changed(haystack, k, '.');
            ASSERT_EQ(search_for(needle)(range_of(haystack)), SearchResult::not_found())
                << n << " bytes, byte " << k << " differs";
        }
        Bytes longer = haystack;
        longer.push_back('A');
        ASSERT_EQ(search_for(longer)(range_of(haystack)), SearchResult::not_found()) << n;
    }
}

TEST_P(FindN, ShortNeedlesGiveWhatTheShortRoutinesGive) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> letter('a', 'c');
    for (int round = 0; round < 400; ++round) {
        Bytes haystack(static_cast<std::size_t>(round), 0);
        for (auto& b : haystack) {
            b = static_cast<std::uint8_t>(letter(rng));
        }
        for (std::size_t m = 1; m <= 3; ++m) {
            Bytes needle(m);
            for (auto& b : needle) {
                b = static_cast<std::uint8_t>(letter(rng));
            }
            ASSERT_EQ(routines().find_n(range_of(haystack), range_of(needle)),
                      find_by_length(haystack, needle))
                << "length " << round << ", needle of " << m;
        }
    }
}

TEST_P(FindN, FindsTheOnlyMatchAtEveryPositionOfEveryLength) {
    // Lengths up to 300 + m run the wide phase of every variant at least once
    // (4W + m - 1 bytes with W up to 64), the narrow phase and the remainder.
    for (const std::size_t m : {1u, 2u, 3u, 4u, 5u, 16u, 17u, 63u, 64u, 65u}) {
        const Bytes needle = letters(m);
        expect_found_at_every_position(search_for(needle), needle, 300 + m, '.');
        ASSERT_FALSE(HasFatalFailure()) << "needle of " << m;
    }
    for (const Bytes& needle : {Bytes(5, 'x'), Bytes(17, 0xFF), Bytes{0x00, 0xFF, 0x00, 0xFF}}) {
        expect_found_at_every_position(search_for(needle), needle, 320, filler_for(needle));
        ASSERT_FALSE(HasFatalFailure()) << "needle of " << needle.size();
    }
}

TEST_P(FindN, FalseCandidatesBeforeTheMatchAreSkipped) {
    // The decoy passes the filter (first, second and last bytes equal) and
    // fails in a middle byte. Planted at every distance before the match, it
    // lands in the same block, an earlier block of the same wide step, and
    // the other mask word.
    for (const std::size_t m : {4u, 5u, 17u, 65u}) {
        const Bytes needle = letters(m);
        for (const std::size_t k : {std::size_t{2}, m / 2, m - 2}) {
            const Bytes decoy = with_byte_changed(needle, k, '.');
            expect_pairs_match_naive(search_for(needle), decoy, needle, needle, 300, '.');
            ASSERT_FALSE(HasFatalFailure()) << "needle of " << m << ", byte " << k << " differs";
        }
    }
}

TEST_P(FindN, ReturnsTheLowestOfSeveralMatches) {
    for (const std::size_t m : {4u, 17u}) {
        const Bytes needle = letters(m);
        expect_pairs_match_naive(search_for(needle), needle, needle, needle, 300, '.');
        ASSERT_FALSE(HasFatalFailure());
    }
}

TEST_P(FindN, EveryPositionACandidateAndNoneMatches) {
    for (const std::size_t m : {4u, 5u, 9u, 64u}) {
        Bytes needle(m, 'a');
        needle[m / 2] = 'b';
        for (std::size_t n = 0; n <= 700; ++n) {
            const Bytes haystack(n, 'a');
            ASSERT_EQ(search_for(needle)(range_of(haystack)), SearchResult::not_found())
                << "length " << n << ", needle of " << m;
        }
    }
}

TEST_P(FindN, RepeatedByteNeedleIsFoundAtTheFirstLongEnoughRun) {
    for (const std::size_t m : {4u, 7u, 16u, 33u}) {
        const Bytes needle(m, 'a');
        // Runs of 1 .. m - 1 bytes, each followed by a separator, then a run
        // of exactly m bytes.
        Bytes haystack;
        for (std::size_t run = 1; run < m; ++run) {
            haystack.insert(haystack.end(), run, 'a');
            haystack.push_back('.');
        }
        const std::size_t expected = haystack.size();
        haystack.insert(haystack.end(), m, 'a');
        haystack.insert(haystack.end(), 100, '.');
        EXPECT_EQ(search_for(needle)(range_of(haystack)), SearchResult::at(expected)) << m;
    }
}

// A needle of m bytes of 'z' but for an 'e' at m - 3. In a run of 'z' every
// position matches it in all bytes but one, so the filter a search starts
// with passes every position, until it picks the 'e' or hands over to
// Two-Way. Planted into the run, it occurs only where it is planted.
Bytes run_needle(std::size_t m) {
    return with_byte_changed(Bytes(m, 'z'), m - 3, 'e');
}

TEST_P(FindN, RunNeedleIsFoundOnlyWhereItIsPlanted) {
    for (const std::size_t m : {8u, 64u, 600u}) {
        const Bytes needle = run_needle(m);
        // Every length up to a few vector steps past the needle: the short
        // paths, the first filter's blocks and the last step.
        const std::size_t lengths = m < 600 ? m + 300 : m + 80;
        expect_found_at_every_position(search_for(needle), needle, lengths, 'z');
        ASSERT_FALSE(HasFatalFailure()) << "needle of " << m;
        // Over 4 KiB, where the wide variants choose their filter bytes,
        // see the first one fail and choose again: every position, so
        // that every block boundary before and after the change is crossed.
        expect_found_at_every_position_of(search_for(needle), needle, 5000, 'z');
        ASSERT_FALSE(HasFatalFailure()) << "needle of " << m;
    }
    // Long enough that the wide variants count a sample of the haystack
    // after a prefix; a few positions around the prefix's end and the end.
    const std::size_t n = 300 * 1024;
    for (const std::size_t m : {8u, 600u}) {
        const Bytes needle = run_needle(m);
        Bytes haystack(n, 'z');
        ASSERT_EQ(search_for(needle)(range_of(haystack)), SearchResult::not_found()) << m;
        for (const std::size_t p :
             {std::size_t{0}, std::size_t{4093}, std::size_t{16383}, std::size_t{16384},
              std::size_t{16447}, std::size_t{n / 2 + 1}, n - m - 64, n - m - 1, n - m}) {
            plant(haystack, p, needle);
            ASSERT_EQ(search_for(needle)(range_of(haystack)), SearchResult::at(p))
                << "needle of " << m << " at " << p;
            std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), m, 'z');
        }
    }
}

// Decoys every 97 bytes of an n-byte haystack: those before `switch_at`
// equal the needle in its first, second and last bytes only, so the wide
// filter passes each and the check on a likely rare inner byte, whichever it
// is, rejects it; a few dozen of them make the search swap the second byte
// for that inner byte in its filter. Those from `switch_at` on differ from
// the needle in the second byte only: they pass the swapped filter and fail
// its check, the second byte.
Bytes filter_swapping_haystack(const Bytes& needle, std::size_t n, std::size_t switch_at) {
    const std::size_t m = needle.size();
    Bytes inner_differs = needle;
    std::fill(inner_differs.begin() + 2, inner_differs.end() - 1, '-');
    const Bytes second_differs = with_byte_changed(needle, 1, '-');
    Bytes haystack(n, '.');
    for (std::size_t at = 0; at + m <= n; at += 97) {
        plant(haystack, at, at < switch_at ? inner_differs : second_differs);
    }
    return haystack;
}

TEST_P(FindN, ResultsStayExactWhenTheFilterSwapsItsMiddleByte) {
    // The needle at every position: before the swap, around it, and after,
    // among decoys of both kinds; it overwrites whatever decoy is there.
    for (const std::size_t m : {4u, 5u, 17u, 65u}) {
        const Bytes needle = letters(m);
        const Bytes decoys = filter_swapping_haystack(needle, 9000, 6000);
        ASSERT_EQ(search_for(needle)(range_of(decoys)), SearchResult::not_found()) << m;
        Bytes haystack = decoys;
        for (std::size_t p = 0; p + m <= haystack.size(); ++p) {
            plant(haystack, p, needle);
            ASSERT_EQ(search_for(needle)(range_of(haystack)), naive_find(haystack, needle))
                << "needle of " << m << " at " << p;
            std::copy_n(decoys.begin() + static_cast<std::ptrdiff_t>(p), m,
                        haystack.begin() + static_cast<std::ptrdiff_t>(p));
        }
    }
}

QARVO_FOR_EVERY_BACKEND(FindN);

}  // namespace
}  // namespace qarvo::test
