// Ranges long enough for the loops that ask for the lines ahead of their
// loads (from 256 KiB): the byte sets both ways, find_n and rfind_n on their
// ranked paths, the sieve of find_two and find_three, and count_one. Each
// range starts right after an inaccessible page and ends right before one,
// so the requests past either end land in the guard pages, and every result
// is checked against the naive scans with a match planted at the ends, at
// the prefetch distance from them and in the middle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "naive.hpp"
#include "variants.hpp"

namespace qarvo::test {
namespace {

// Past the loops' threshold with room to spare, in whole pages.
constexpr std::size_t kPages = 66;

// Lower-case letters and spaces, the same on every run.
Bytes letters(std::size_t n) {
    Bytes out(n);
    std::uint32_t state = 12345;
    for (std::uint8_t& b : out) {
        state = state * 1103515245u + 12345u;
        const std::uint32_t r = (state >> 16) % 27;
        b = static_cast<std::uint8_t>(r == 26 ? ' ' : 'a' + r);
    }
    return out;
}

// Offsets to plant at: both ends, a block or the prefetch distance (4096)
// from them, and the middle.
std::vector<std::size_t> plant_offsets(std::size_t n, std::size_t m) {
    const std::size_t last = n - m;
    return {0, 1, 255, 256, 4095, 4096, 4097, n / 2, last - 4097, last - 4096, last - 256, last};
}

SearchResult naive_set(std::span<const std::uint8_t> h, const ByteSet& set, bool in,
                       bool backwards) {
    for (std::size_t k = 0; k < h.size(); ++k) {
        const std::size_t i = backwards ? h.size() - 1 - k : k;
        if (set.contains(h[i]) == in) {
            return SearchResult::at(i);
        }
    }
    return SearchResult::not_found();
}

class LongRange : public EveryBackend {
protected:
    void SetUp() override {
        ASSERT_TRUE(page_.ok());
        text_ = letters(page_.size());
    }

    // The four set searches on `contents` placed at both ends of the pages,
    // of the variant's table and, where the CPU runs one, of the table with
    // its byte-set extension.
    void expect_sets_match_naive(const Bytes& contents, const ByteSet& set,
                                 const std::string& what) {
        ASSERT_NO_FATAL_FAILURE(expect_sets_match_naive_in(routines(), contents, set, what));
        if (const SearchRoutines* extended = detail::routines_with_set_extension(GetParam())) {
            ASSERT_NO_FATAL_FAILURE(
                expect_sets_match_naive_in(*extended, contents, set, what + ", extended"));
        }
    }

    void expect_sets_match_naive_in(const SearchRoutines& r, const Bytes& contents,
                                    const ByteSet& set, const std::string& what) {
        for (const bool at_end : {true, false}) {
            const auto h = at_end ? page_.at_end(contents) : page_.at_start(contents);
            const ByteRange range = range_of(h);
            const std::string where = what + (at_end ? ", before the guard page" : ", after it");
            ASSERT_EQ(r.find_any(range, set), naive_set(h, set, true, false)) << where;
            ASSERT_EQ(r.rfind_any(range, set), naive_set(h, set, true, true)) << where;
            ASSERT_EQ(r.find_not_any(range, set.complement()), naive_set(h, set, true, false))
                << where;
            ASSERT_EQ(r.rfind_not_any(range, set.complement()), naive_set(h, set, true, true))
                << where;
        }
    }

    // Every search of `needle` on `contents` placed at both ends of the pages.
    void expect_needle_matches_naive(const Bytes& contents, const Bytes& needle,
                                     const std::string& what) {
        for (const bool at_end : {true, false}) {
            const auto h = at_end ? page_.at_end(contents) : page_.at_start(contents);
            SCOPED_TRACE(what + (at_end ? ", before the guard page" : ", after it"));
            ASSERT_NO_FATAL_FAILURE(expect_all_match_naive(h, needle));
            ASSERT_NO_FATAL_FAILURE(expect_reverse_match_naive(h, needle));
        }
    }

    GuardedPage page_{kPages};
    Bytes text_;
};

TEST_P(LongRange, ByteSetsOfEveryKindAgreeWithTheNaiveScan) {
    // One to three members (compares), sets that take the table lookups
    // (ASCII only, and with bytes from 0x80), and the complement forms'
    // 253 to 255 members; none of them is a letter or a space.
    const std::vector<std::vector<std::uint8_t>> member_lists = {
        {'|'},
        {'|', '<'},
        {'|', '<', '&'},
        {'|', '<', '&', '#', '@', '0', '1', '2'},
        {0x80, 0xC3, 0xFF, '|', '<'},
        // Within 64 values: from 0, and from '@' (bit lookups of windows).
        {'<', '>', '&', '"', '\''},
        {'@', 'A', 'Q', 'Z', '_'},
    };
    for (const auto& members : member_lists) {
        ByteSet set;
        for (const std::uint8_t b : members) {
            set.add(b);
        }
        const std::string what = std::to_string(members.size()) + " members";
        ASSERT_NO_FATAL_FAILURE(expect_sets_match_naive(text_, set, what + ", none present"));
        for (const std::size_t at : plant_offsets(text_.size(), 1)) {
            Bytes planted = text_;
            planted[at] = members.back();
            ASSERT_NO_FATAL_FAILURE(
                expect_sets_match_naive(planted, set, what + ", one at " + std::to_string(at)));
        }
    }
    // The complement of the text's own alphabet: what find_not_any of the
    // letters and the space searches for.
    ByteSet alphabet;
    alphabet.add(' ');
    for (std::uint8_t b = 'a'; b <= 'z'; ++b) {
        alphabet.add(b);
    }
    ASSERT_NO_FATAL_FAILURE(
        expect_sets_match_naive(text_, alphabet.complement(), "outside the alphabet"));
    // And outside the lower-case letters alone, whose complement is a window.
    alphabet = ByteSet();
    for (std::uint8_t b = 'a'; b <= 'z'; ++b) {
        alphabet.add(b);
    }
    Bytes spaced = text_;
    for (std::size_t i = 0; i < spaced.size(); ++i) {
        spaced[i] = spaced[i] == ' ' ? 'e' : spaced[i];
    }
    ASSERT_NO_FATAL_FAILURE(
        expect_sets_match_naive(spaced, alphabet.complement(), "outside the letters"));
    for (const std::size_t at : plant_offsets(spaced.size(), 1)) {
        Bytes planted = spaced;
        planted[at] = ' ';
        ASSERT_NO_FATAL_FAILURE(expect_sets_match_naive(
            planted, alphabet.complement(), "outside the letters, one at " + std::to_string(at)));
    }
}

TEST_P(LongRange, NeedlesOfEveryLengthAgreeWithTheNaiveScans) {
    // Needles with a byte the text never holds, absent or planted, and
    // needles cut from the text itself (found early and late by both ways).
    for (const std::size_t m : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{4},
                                std::size_t{16}, std::size_t{64}}) {
        Bytes needle(text_.begin() + 1000, text_.begin() + 1000 + static_cast<std::ptrdiff_t>(m));
        const std::string what = "needle of " + std::to_string(m);
        ASSERT_NO_FATAL_FAILURE(
            expect_needle_matches_naive(text_, needle, what + " from the text"));
        needle[m / 2] = '|';
        ASSERT_NO_FATAL_FAILURE(expect_needle_matches_naive(text_, needle, what + ", absent"));
        for (const std::size_t at : plant_offsets(text_.size(), m)) {
            Bytes planted = text_;
            std::copy(needle.begin(), needle.end(),
                      planted.begin() + static_cast<std::ptrdiff_t>(at));
            ASSERT_NO_FATAL_FAILURE(expect_needle_matches_naive(
                planted, needle, what + ", planted at " + std::to_string(at)));
        }
    }
}

QARVO_FOR_EVERY_BACKEND(LongRange);

}  // namespace
}  // namespace qarvo::test
