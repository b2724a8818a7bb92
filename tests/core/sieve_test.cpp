// find_two and find_three on long ranges, where the wide variants test one
// or two needle bytes at every position and check the others only in
// blocks that pass: every choice of tested bytes (by rank: a byte that
// text does not use alone, else the two rarer ones) at every position and
// start address, false alarms on every lane, and the hand-over to a filter
// of more bytes after too many of them, with the match on either side of it.
// The 16-byte variants run the same cases through their fixed blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "planting.hpp"

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

QARVO_FOR_EVERY_BACKEND(Sieve);

}  // namespace
}  // namespace qarvo::test
