// find_two on every variant: every length and position, pairs straddling
// vectors, near misses before the match, overlaps, 0x00 and 0xFF.
#include <gtest/gtest.h>

#include <cstdint>

#include "backend_fixture.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

class FindTwo : public EveryBackend {
protected:
    Search search_for(std::uint8_t b0, std::uint8_t b1) const {
        const SearchRoutines& r = routines();
        return [&r, b0, b1](ByteRange h) { return r.find_two(h, b0, b1); };
    }
    Search search_for(const Bytes& needle) const { return search_for(needle[0], needle[1]); }
};

TEST_P(FindTwo, FindsTheOnlyMatchAtEveryPositionOfEveryLength) {
    // Lengths up to 700 run every loop of every variant (the 64-byte main
    // loop needs 320 bytes per pass) and every hand-over to a narrower one.
    for (const Bytes& needle : {Bytes{'x', 'y'}, Bytes{'x', 'x'}, Bytes{0x00, 0xFF},
                                Bytes{0xFF, 0x00}, Bytes{0x00, 0x00}}) {
        expect_found_at_every_position(search_for(needle), needle, 700, filler_for(needle));
        ASSERT_FALSE(HasFatalFailure()) << int{needle[0]} << "," << int{needle[1]};
    }
}

TEST_P(FindTwo, NearMissesBeforeTheMatchAreSkipped) {
    const Bytes needle{'x', 'y'};
    // The first byte alone, the second byte alone, and the pair reversed.
    for (const Bytes& decoy : {Bytes{'x'}, Bytes{'y'}, Bytes{'y', 'x'}}) {
        expect_pairs_match_naive(search_for(needle), decoy, needle, needle, 300, '.');
        ASSERT_FALSE(HasFatalFailure());
    }
}

TEST_P(FindTwo, ReturnsTheLowestOfSeveralMatches) {
    const Bytes needle{'x', 'y'};
    expect_pairs_match_naive(search_for(needle), needle, needle, needle, 300, '.');
}

TEST_P(FindTwo, ShortRanges) {
    const Search xy = search_for('x', 'y');
    EXPECT_EQ(xy(ByteRange{nullptr, 0}), SearchResult::not_found());
    const Bytes one{'x'};
    EXPECT_EQ(xy(range_of(one)), SearchResult::not_found());
    const Bytes two{'x', 'y'};
    EXPECT_EQ(xy(range_of(two)), SearchResult::at(0));
}

TEST_P(FindTwo, FirstByteAsTheLastByteOfTheRangeIsNoMatch) {
    for (std::size_t n = 1; n <= 300; ++n) {
        Bytes haystack(n, '.');
        haystack[n - 1] = 'x';
        ASSERT_EQ(search_for('x', 'y')(range_of(haystack)), SearchResult::not_found()) << n;
        ASSERT_EQ(search_for('x', '.')(range_of(haystack)), SearchResult::not_found()) << n;
    }
}

TEST_P(FindTwo, OverlappingOccurrences) {
    const Bytes xxx{'x', 'x', 'x'};
    EXPECT_EQ(search_for('x', 'x')(range_of(xxx)), SearchResult::at(0));
    const Bytes xxy{'x', 'x', 'y'};
    EXPECT_EQ(search_for('x', 'y')(range_of(xxy)), SearchResult::at(1));
}

TEST_P(FindTwo, PairsStraddlingVectorsInAnEightyByteHaystack) {
    for (const std::size_t at : {15u, 16u, 31u, 32u, 47u, 48u, 63u, 64u, 78u}) {
        Bytes haystack(80, '.');
        haystack[at] = 'x';
        haystack[at + 1] = 'y';
        EXPECT_EQ(search_for('x', 'y')(range_of(haystack)), SearchResult::at(at));
    }
}

QARVO_FOR_EVERY_BACKEND(FindTwo);

}  // namespace
}  // namespace qarvo::test
