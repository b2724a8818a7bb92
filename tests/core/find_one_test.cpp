// find_one on every variant: every length and position, the block sizes of
// the widest variant, several matches, 0x00 and 0xFF.
#include <gtest/gtest.h>

#include <cstdint>

#include "backend_fixture.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

class FindOne : public EveryBackend {
protected:
    Search search_for(std::uint8_t needle) const {
        const SearchRoutines& r = routines();
        return [&r, needle](ByteRange h) { return r.find_one(h, needle); };
    }
};

TEST_P(FindOne, FindsTheOnlyMatchAtEveryPositionOfEveryLength) {
    // Lengths up to 700 pass every block of the 16- and 32-byte variants and
    // all but the main loop of the 64-byte one.
    for (const std::uint8_t needle : {std::uint8_t{'x'}, std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        const std::uint8_t filler = needle == 0x00 ? 0xFF : 0x00;
        expect_found_at_every_position(search_for(needle), Bytes{needle}, 700, filler);
        ASSERT_FALSE(HasFatalFailure()) << "needle " << int{needle};
    }
}

TEST_P(FindOne, FindsTheOnlyMatchAroundTheWidestMainLoop) {
    // 1024 bytes is one main-loop block of the 64-byte variant; 2047 adds
    // each smaller block once and a 63-byte remainder.
    for (const std::size_t n : {1023u, 1024u, 1025u, 1535u, 2047u, 2048u, 2049u, 2111u}) {
        expect_found_at_every_position_of(search_for('x'), Bytes{'x'}, n, '.');
        ASSERT_FALSE(HasFatalFailure());
    }
}

TEST_P(FindOne, FindsTheFirstOfTwoMatchesThroughTheRampAtEveryStartAddress) {
    // The wide variants test blocks of 1, 2 and 4 vectors before their main
    // loop, counted from an aligned offset that the start address moves. A
    // second match 70 bytes on must never win over the first, wherever the
    // blocks' edges fall between them.
    constexpr std::size_t kWidest = 64;
    for (const std::size_t n : {std::size_t{700}, std::size_t{1100}}) {
        Bytes storage(n + kWidest, '.');
        for (std::size_t start = 0; start < kWidest; ++start) {
            const std::span<std::uint8_t> haystack(storage.data() + start, n);
            for (std::size_t p = 0; p < 640 && p + 70 < n; ++p) {
                haystack[p] = 'x';
                haystack[p + 70] = 'x';
                ASSERT_EQ(search_for('x')(range_of(haystack)), SearchResult::at(p))
                    << "length " << n << ", start " << start << " mod 64, first match at " << p;
                haystack[p] = '.';
                haystack[p + 70] = '.';
            }
        }
    }
}

TEST_P(FindOne, ReturnsTheLowestOfSeveralMatches) {
    const Bytes needle{'x'};
    expect_pairs_match_naive(search_for('x'), needle, needle, needle, 300, '.');
}

TEST_P(FindOne, ReturnsTheLowerOfTwoMatchesInEveryShortRange) {
    // Ranges of up to one 64-byte vector take the wide variants' short paths:
    // two overlapping 16-byte steps whose lanes are joined, or a masked load.
    // Two matches in every pair of places (the first step only, the overlap,
    // the second step only) tell a path that takes the lower one from one
    // that prefers either step.
    const Bytes needle{'x'};
    for (std::size_t n = 2; n <= 65; ++n) {
        expect_pairs_match_naive(search_for('x'), needle, needle, needle, n, '.');
        ASSERT_FALSE(HasFatalFailure());
    }
}

TEST_P(FindOne, LowestLaneWinsAcrossTheTwoMaskWords) {
    Bytes haystack(256, '.');
    haystack[7] = 'x';
    haystack[8] = 'x';
    EXPECT_EQ(search_for('x')(range_of(haystack)), SearchResult::at(7));
    haystack[7] = '.';
    EXPECT_EQ(search_for('x')(range_of(haystack)), SearchResult::at(8));
    haystack[8] = '.';
    haystack[3] = 'x';
    haystack[200] = 'x';
    EXPECT_EQ(search_for('x')(range_of(haystack)), SearchResult::at(3));
}

TEST_P(FindOne, EmptyRangeIsNotFoundEvenWithoutData) {
    EXPECT_EQ(routines().find_one(ByteRange{nullptr, 0}, 0), SearchResult::not_found());
}

TEST_P(FindOne, HaystackOfTheNeedleByteIsFoundAtZero) {
    for (const std::size_t n : {1u, 15u, 16u, 17u, 255u, 256u, 257u, 1100u}) {
        const Bytes haystack(n, 0xFF);
        EXPECT_EQ(search_for(0xFF)(range_of(haystack)), SearchResult::at(0)) << n;
        EXPECT_EQ(search_for(0xFE)(range_of(haystack)), SearchResult::not_found()) << n;
    }
}

QARVO_FOR_EVERY_BACKEND(FindOne);

}  // namespace
}  // namespace qarvo::test
