// No routine reads outside its range: every haystack of 0 to 512 bytes is put
// right before an inaccessible page and right after one, so a read one byte
// past either end faults and kills the test; up to 200 bytes, with the needle
// at every position. Longer haystacks that end at the
// upper guard page also start at every address modulo 64, where the wide
// variants' aligned main loops begin at a different offset each time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

class GuardPages : public EveryBackend {};

// The needles tried: short ones for find_one/two/three and find_n's dispatch,
// and long ones whose last-byte loads reach furthest.
const Bytes kNeedles[] = {
    Bytes{'q'},
    Bytes{'q', 'r'},
    Bytes{'q', 'r', 's'},
    Bytes{'q', 'r', 's', 't'},
    Bytes{'q', 'r', 's', 't', 'u'},
    Bytes(16, 'q'),
    Bytes(17, 'q'),
    Bytes(64, 'q'),
    Bytes(65, 'q'),
};

TEST_P(GuardPages, EveryRoutineStaysInsideTheRange) {
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    ASSERT_GE(page.size(), 512u);
    for (std::size_t n = 0; n <= 512; ++n) {
        for (const Bytes& needle : kNeedles) {
            // Haystacks: no match at all; the needle at the very start; the
            // needle at the very end; all but the needle's last byte at the
            // end, so a search must look at the last byte and stop there.
            Bytes none(n, '.');
            Bytes first = none;
            Bytes last = none;
            Bytes partial = none;
            if (needle.size() <= n) {
                plant(first, 0, needle);
                plant(last, n - needle.size(), needle);
            }
            if (needle.size() - 1 <= n) {
                plant(partial, n - (needle.size() - 1),
                      std::span<const std::uint8_t>(needle).first(needle.size() - 1));
            }
            for (const Bytes* contents : {&none, &first, &last, &partial}) {
                for (const bool at_end : {true, false}) {
                    const auto haystack =
                        at_end ? page.at_end(*contents) : page.at_start(*contents);
                    expect_all_match_naive(haystack, needle);
                    ASSERT_FALSE(HasFatalFailure())
                        << "length " << n << (at_end ? ", before" : ", after") << " the guard page";
                }
            }
        }
    }
}

TEST_P(GuardPages, EveryPositionOfShortRangesAndLastVectors) {
    // The wide variants take a range shorter than a vector with loads that
    // leave out the lanes past its end (AVX-512) or with narrower vectors
    // that overlap (AVX2), and finish a longer one with a last vector that
    // overlaps the one before. Each must stay inside the range, and lanes
    // left out must not count as bytes: with needles of 0x00, a lane read as
    // zero past the end would complete the partial needle at the end. So:
    // every length up to three 64-byte vectors and a few, the needle at
    // every position, at both ends of the page.
    const Bytes needles[] = {Bytes{0x00},
                             Bytes{0x00, 0x00},
                             Bytes{0x00, 0x00, 0x00},
                             Bytes{0x00, 0x00, 0x00, 0x00},
                             Bytes{0x00, 'q', 0x00, 0x00, 0x00},
                             Bytes(17, 0x00)};
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    for (std::size_t n = 0; n <= 200; ++n) {
        for (const Bytes& needle : needles) {
            const std::size_t m = needle.size();
            Bytes contents(n, '.');
            if (m - 1 <= n) {
                plant(contents, n - (m - 1), std::span<const std::uint8_t>(needle).first(m - 1));
            }
            for (const bool at_end : {true, false}) {
                const auto partial = at_end ? page.at_end(contents) : page.at_start(contents);
                ASSERT_EQ(find_by_length(partial, needle), SearchResult::not_found())
                    << "length " << n << ", needle of " << m << ", all but its last byte at the end"
                    << (at_end ? ", before" : ", after") << " the guard page";
            }
            std::fill(contents.begin(), contents.end(), '.');
            for (std::size_t p = 0; p + m <= n; ++p) {
                plant(contents, p, needle);
                for (const bool at_end : {true, false}) {
                    const auto haystack = at_end ? page.at_end(contents) : page.at_start(contents);
                    ASSERT_EQ(find_by_length(haystack, needle), SearchResult::at(p))
                        << "length " << n << ", needle of " << m << " at " << p
                        << (at_end ? ", before" : ", after") << " the guard page";
                }
                std::fill_n(contents.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
            }
        }
    }
}

TEST_P(GuardPages, LongRangesAtEveryStartAddressModulo64) {
    // The wide variants test one vector at the start of a long range, then
    // go on from the first aligned offset: where that falls, and what is left
    // after the aligned blocks, depends on the start address. The lengths run
    // the aligned main loop of every routine and variant 0, 1 and a few times
    // (and, below 384, not at all for find_two/three on AVX-512).
    constexpr std::size_t kWidest = 64;
    // '|' is a byte text does not use: the wide find_two/three test it alone
    // and check the others (loads one and two bytes further) where it occurs.
    const Bytes needles[] = {Bytes{'x'},      Bytes{'x', 'y'},      Bytes{'x', 'y', 'z'},
                             Bytes{'x', '|'}, Bytes{'x', 'y', '|'}, Bytes{'q', 'r', 's', 't', 'u'},
                             Bytes(17, 'q')};
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    ASSERT_EQ(page.size() % kWidest, 0u);
    for (const std::size_t shortest : {360u, 1088u, 3072u}) {
        for (std::size_t start = 0; start < kWidest; ++start) {
            // The range ends at the (aligned) guard page, so its length fixes
            // its start address modulo 64.
            const std::size_t n = shortest + (2 * kWidest - start - shortest % kWidest) % kWidest;
            ASSERT_LE(n, page.size());
            const std::span<std::uint8_t> haystack = page.last(n);
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(haystack.data()) % kWidest, start);
            for (const Bytes& needle : needles) {
                const std::size_t m = needle.size();
                std::fill(haystack.begin(), haystack.end(), '.');
                ASSERT_EQ(find_by_length(haystack, needle), SearchResult::not_found())
                    << "length " << n << ", needle of " << m;
                // Every position within two vectors of either end, every 61st
                // between (so each lane of each vector comes up over the starts).
                const std::size_t tail = n - m - 2 * kWidest;
                for (std::size_t p = 0; p + m <= n;
                     p = p < 2 * kWidest || p >= tail ? p + 1 : std::min(p + 61, tail)) {
                    plant(haystack, p, needle);
                    ASSERT_EQ(find_by_length(haystack, needle), SearchResult::at(p))
                        << "length " << n << ", start " << start << " mod 64, needle of " << m
                        << " at " << p;
                    std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
                }
            }
        }
    }
}

TEST_P(GuardPages, ChecksOfEveryBlockUpToTheEnd) {
    // A range of '|' only: for these needles every block of the wide
    // variants' main loops has candidates, so the bytes before and after
    // each candidate are loaded and checked in every block up to the last
    // one, and the search moves to filters of more bytes on the way. The
    // needle, or all but its last byte, sits at the very end.
    constexpr std::size_t kWidest = 64;
    const Bytes needles[] = {Bytes{'x', '|'}, Bytes{'|', 'x'}, Bytes{'x', '|', 'y'},
                             Bytes{'x', 'y', '|'}, Bytes{'|', 'x', 'y'}};
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    for (const std::size_t shortest : {std::size_t{1088}, std::size_t{4032}}) {
        for (std::size_t start = 0; start < kWidest; ++start) {
            const std::size_t n = shortest + (2 * kWidest - start - shortest % kWidest) % kWidest;
            ASSERT_LE(n, page.size());
            const std::span<std::uint8_t> haystack = page.last(n);
            for (const Bytes& needle : needles) {
                const std::size_t m = needle.size();
                for (const std::size_t planted : {m, m - 1}) {
                    std::fill(haystack.begin(), haystack.end(), '|');
                    plant(haystack, n - planted,
                          std::span<const std::uint8_t>(needle).first(planted));
                    ASSERT_EQ(find_by_length(haystack, needle), naive_find(haystack, needle))
                        << "length " << n << ", start " << start << " mod 64, needle of " << m
                        << ", " << planted << " of its bytes at the end";
                }
            }
        }
    }
}

TEST_P(GuardPages, NeedlesNearlyAsLongAsALongHaystack) {
    // A needle that leaves a few hundred windows of a haystack of 16 KiB
    // or more: too few for the wide phases' blocks, and, from 256 KiB on,
    // for the first stretch that the wide variants search before they
    // count a sample of the haystack. Absent (a run of one byte, with the
    // needle's rare bytes nowhere), at the start, in the middle and at the
    // end, in haystacks that end at a guard page. The needle's rare byte
    // sits in its middle, or next to its end, where the loads of a filter
    // on it reach furthest.
    for (const std::size_t n : {std::size_t{16 * 1024 + 5}, std::size_t{300 * 1024}}) {
        GuardedPage page(n / 4096 + 1);
        ASSERT_TRUE(page.ok());
        for (const std::size_t windows : {63u, 64u, 65u, 100u, 200u, 318u, 319u, 320u, 1000u}) {
            const std::size_t m = n - windows + 1;
            for (const std::size_t rare_at : {m / 2, m - 2}) {
                Bytes needle(m, '.');
                needle[rare_at] = 'Q';
                needle.back() = 'z';
                for (const std::size_t at : {n, std::size_t{0}, windows / 2, windows - 1}) {
                    Bytes contents(n, '.');
                    if (at + m <= n) {
                        plant(contents, at, needle);
                    }
                    expect_all_match_naive(page.at_end(contents), needle);
                    ASSERT_FALSE(HasFatalFailure())
                        << "length " << n << ", " << windows << " windows, rare byte at " << rare_at
                        << ", needle at " << at;
                }
            }
        }
    }
}

TEST_P(GuardPages, PlainPrefixThenRankedFilterAtEveryStartAddressModulo64) {
    // Over 4 KiB the wide variants test the first few hundred positions on
    // the needle's first, second and last bytes, stop after a few decoys
    // that pass those (or after one long needle's worth of comparing), and
    // go on with the filter on its rarest bytes from an offset aligned for
    // that byte, or after one unaligned step when they stopped within the
    // first block: the start address moves all of these.
    constexpr std::size_t kWidest = 64;
    Bytes long_needle(600, 'a');
    long_needle[597] = 'b';
    struct Setup {
        Bytes needle;  // a byte of it occurs nowhere else: planted, it is the only occurrence
        std::uint8_t fill;
        Bytes decoy;  // passes the first, second and last bytes
        std::size_t decoys;
    };
    const Bytes needle = {'q', 'r', 'z', 'j', 'x', 'k', 'v', 's'};
    const Bytes decoy = {'q', 'r', '.', '.', '.', '.', '.', 's'};
    const Setup setups[] = {
        {needle, '.', decoy, 0},
        {needle, '.', decoy, 3},
        {needle, '.', decoy, 12},
        {long_needle, 'a', {}, 0},  // every position a candidate
    };
    GuardedPage page(2);
    ASSERT_TRUE(page.ok());
    ASSERT_GE(page.size(), 4200u);
    for (const Setup& setup : setups) {
        const std::size_t m = setup.needle.size();
        for (std::size_t start = 0; start < kWidest; ++start) {
            const std::size_t n = 4100 + (2 * kWidest - start - 4100 % kWidest) % kWidest;
            const std::span<std::uint8_t> haystack = page.last(n);
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(haystack.data()) % kWidest, start);
            std::fill(haystack.begin(), haystack.end(), setup.fill);
            for (std::size_t k = 0; k < setup.decoys; ++k) {
                plant(haystack, 5 + 37 * k, setup.decoy);
            }
            const Bytes contents(haystack.begin(), haystack.end());
            ASSERT_EQ(find_by_length(haystack, setup.needle), SearchResult::not_found())
                << "length " << n << ", needle of " << m << ", " << setup.decoys << " decoys";
            for (std::size_t p = 0; p + m <= n; p = p < 700 || p + 2 * kWidest + m >= n
                                                        ? p + 1
                                                        : std::min(p + 61, n - m - 2 * kWidest)) {
                plant(haystack, p, setup.needle);
                ASSERT_EQ(find_by_length(haystack, setup.needle), SearchResult::at(p))
                    << "length " << n << ", start " << start << " mod 64, needle of " << m << ", "
                    << setup.decoys << " decoys, needle at " << p;
                std::copy_n(contents.begin() + static_cast<std::ptrdiff_t>(p), m,
                            haystack.begin() + static_cast<std::ptrdiff_t>(p));
            }
        }
    }
}

QARVO_FOR_EVERY_BACKEND(GuardPages);

}  // namespace
}  // namespace qarvo::test
