// find_three on every variant: every length and position, triples straddling
// vectors, every partial match before the match, overlaps, 0x00 and 0xFF.
#include <gtest/gtest.h>

#include <cstdint>

#include "backend_fixture.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

class FindThree : public EveryBackend {
protected:
    Search search_for(const Bytes& needle) const {
        const SearchRoutines& r = routines();
        const std::uint8_t b0 = needle[0], b1 = needle[1], b2 = needle[2];
        return [&r, b0, b1, b2](ByteRange h) { return r.find_three(h, b0, b1, b2); };
    }
};

TEST_P(FindThree, FindsTheOnlyMatchAtEveryPositionOfEveryLength) {
    for (const Bytes& needle : {Bytes{'x', 'y', 'z'}, Bytes{'x', 'x', 'x'}, Bytes{0x00, 0xFF, 0x00},
                                Bytes{0xFF, 0xFF, 0x00}}) {
        expect_found_at_every_position(search_for(needle), needle, 700, filler_for(needle));
        ASSERT_FALSE(HasFatalFailure());
    }
}

TEST_P(FindThree, EveryPartialMatchBeforeTheMatchIsSkipped) {
    // Two of the three bytes in place, the third one filler: the comparison
    // must depend on every byte of the triple.
    const Bytes needle{'x', 'y', 'z'};
    for (const Bytes& decoy : {Bytes{'x', 'y', '.'}, Bytes{'x', '.', 'z'}, Bytes{'.', 'y', 'z'}}) {
        expect_pairs_match_naive(search_for(needle), decoy, needle, needle, 300, '.');
        ASSERT_FALSE(HasFatalFailure());
    }
}

TEST_P(FindThree, ReturnsTheLowestOfSeveralMatches) {
    const Bytes needle{'x', 'y', 'z'};
    expect_pairs_match_naive(search_for(needle), needle, needle, needle, 300, '.');
}

TEST_P(FindThree, ShortRangesAndPartialNeedleAtTheEnd) {
    const Search xyz = search_for({'x', 'y', 'z'});
    EXPECT_EQ(xyz(ByteRange{nullptr, 0}), SearchResult::not_found());
    for (std::size_t n = 2; n <= 300; ++n) {
        Bytes haystack(n, '.');
        haystack[n - 2] = 'x';
        haystack[n - 1] = 'y';
        ASSERT_EQ(xyz(range_of(haystack)), SearchResult::not_found()) << n;
    }
    const Bytes exact{'x', 'y', 'z'};
    EXPECT_EQ(xyz(range_of(exact)), SearchResult::at(0));
}

TEST_P(FindThree, OverlappingOccurrences) {
    const Bytes xxxx{'x', 'x', 'x', 'x'};
    EXPECT_EQ(search_for({'x', 'x', 'x'})(range_of(xxxx)), SearchResult::at(0));
    const Bytes xxxy{'x', 'x', 'x', 'y'};
    EXPECT_EQ(search_for({'x', 'x', 'y'})(range_of(xxxy)), SearchResult::at(1));
}

TEST_P(FindThree, TriplesStraddlingVectorsInAnEightyByteHaystack) {
    for (const std::size_t at : {14u, 15u, 16u, 30u, 31u, 46u, 47u, 62u, 63u, 64u, 77u}) {
        Bytes haystack(80, '.');
        plant(haystack, at, Bytes{'x', 'y', 'z'});
        EXPECT_EQ(search_for({'x', 'y', 'z'})(range_of(haystack)), SearchResult::at(at));
    }
}

QARVO_FOR_EVERY_BACKEND(FindThree);

}  // namespace
}  // namespace qarvo::test
