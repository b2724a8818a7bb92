// The searches from the end and the count read nothing outside their range:
// every haystack of 0 to 512 bytes is put right after an inaccessible page and
// right before one, so a read one byte before the start or past the end
// faults; up to 200 bytes with the needle at every position. Longer haystacks
// that start at the lower guard page, or end at the upper one, take every
// start address modulo 64, where the wide variants' aligned loops begin at a
// different offset each time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

class ReverseGuardPages : public EveryBackend {};

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

TEST_P(ReverseGuardPages, EveryRoutineStaysInsideTheRange) {
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    ASSERT_GE(page.size(), 512u);
    for (std::size_t n = 0; n <= 512; ++n) {
        for (const Bytes& needle : kNeedles) {
            // No match; the needle at the very start and at the very end; all
            // but its first byte at the start, so a search from the end must
            // look at the first byte of the range and stop there; all but its
            // last byte at the end.
            const std::size_t m = needle.size();
            Bytes none(n, '.');
            Bytes first = none;
            Bytes last = none;
            Bytes head = none;
            Bytes tail = none;
            if (m <= n) {
                plant(first, 0, needle);
                plant(last, n - m, needle);
            }
            if (m - 1 <= n) {
                plant(head, 0, std::span<const std::uint8_t>(needle).subspan(1));
                plant(tail, n - (m - 1), std::span<const std::uint8_t>(needle).first(m - 1));
            }
            for (const Bytes* contents : {&none, &first, &last, &head, &tail}) {
                for (const bool at_end : {true, false}) {
                    const auto haystack =
                        at_end ? page.at_end(*contents) : page.at_start(*contents);
                    expect_reverse_match_naive(haystack, needle);
                    ASSERT_FALSE(HasFatalFailure())
                        << "length " << n << (at_end ? ", before" : ", after") << " the guard page";
                }
            }
        }
    }
}

TEST_P(ReverseGuardPages, EveryPositionOfShortRangesAndFirstVectors) {
    // Needles of 0x00, so that a lane read as zero outside the range would
    // complete a partial needle at either end.
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
                plant(contents, 0, std::span<const std::uint8_t>(needle).subspan(1));
            }
            for (const bool at_end : {true, false}) {
                const auto partial = at_end ? page.at_end(contents) : page.at_start(contents);
                ASSERT_EQ(rfind_by_length(partial, needle), SearchResult::not_found())
                    << "length " << n << ", needle of " << m
                    << ", all but its first byte at the start" << (at_end ? ", before" : ", after")
                    << " the guard page";
            }
            std::fill(contents.begin(), contents.end(), '.');
            for (std::size_t p = 0; p + m <= n; ++p) {
                plant(contents, p, needle);
                for (const bool at_end : {true, false}) {
                    const auto haystack = at_end ? page.at_end(contents) : page.at_start(contents);
                    ASSERT_EQ(rfind_by_length(haystack, needle), SearchResult::at(p))
                        << "length " << n << ", needle of " << m << " at " << p
                        << (at_end ? ", before" : ", after") << " the guard page";
                }
                std::fill_n(contents.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
            }
        }
    }
}

TEST_P(ReverseGuardPages, LongRangesAtEveryStartAddressModulo64) {
    constexpr std::size_t kWidest = 64;
    const Bytes needles[] = {Bytes{'x'},
                             Bytes{'x', 'y'},
                             Bytes{'x', 'y', 'z'},
                             Bytes{'q', 'r', 's', 't', 'u'},
                             Bytes{'x', '|', 'y', 'z'},
                             Bytes(17, 'q')};
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    ASSERT_EQ(page.size() % kWidest, 0u);
    for (const std::size_t shortest : {360u, 1088u, 3072u}) {
        for (std::size_t start = 0; start < kWidest; ++start) {
            for (const bool at_end : {true, false}) {
                // At the end, the length fixes the start address modulo 64; at
                // the start (an aligned page), the end address.
                const std::size_t n =
                    shortest + (2 * kWidest - start - shortest % kWidest) % kWidest;
                ASSERT_LE(n, page.size());
                for (const Bytes& needle : needles) {
                    const std::size_t m = needle.size();
                    Bytes contents(n, '.');
                    auto haystack = at_end ? page.at_end(contents) : page.at_start(contents);
                    ASSERT_EQ(rfind_by_length(haystack, needle), SearchResult::not_found())
                        << "length " << n << ", needle of " << m;
                    ASSERT_EQ(routines().count_one(range_of(haystack), 'x'), 0u);
                    // Every position within two vectors of either end, every 61st
                    // between.
                    const std::size_t tail = n - m - 2 * kWidest;
                    for (std::size_t p = 0; p + m <= n;
                         p = p < 2 * kWidest || p >= tail ? p + 1 : std::min(p + 61, tail)) {
                        plant(contents, p, needle);
                        haystack = at_end ? page.at_end(contents) : page.at_start(contents);
                        ASSERT_EQ(rfind_by_length(haystack, needle), SearchResult::at(p))
                            << "length " << n << ", start " << start << " mod 64, needle of " << m
                            << " at " << p << (at_end ? ", before" : ", after")
                            << " the guard page";
                        if (m == 1) {
                            ASSERT_EQ(routines().count_one(range_of(haystack), 'x'), 1u);
                        }
                        std::fill_n(contents.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
                    }
                }
            }
        }
    }
}

TEST_P(ReverseGuardPages, HostileInputsHandOverWithinTheRange) {
    // Periodic bytes where nearly every other window passes the filter and
    // fails late: the hand-over to Two-Way from the end takes the range from
    // its start, which sits right after the lower guard page.
    GuardedPage page(2);
    ASSERT_TRUE(page.ok());
    for (const std::size_t n : {std::size_t{1000}, std::size_t{6000}}) {
        Bytes contents(n);
        for (std::size_t i = 0; i < n; ++i) {
            contents[i] = i % 2 == 0 ? 'a' : 'b';
        }
        for (const std::size_t half : {4u, 40u}) {
            Bytes needle;
            for (std::size_t i = 0; i < half; ++i) {
                needle.push_back('a');
                needle.push_back('b');
            }
            needle[needle.size() - 2] = 'b';
            for (const std::size_t at : {std::size_t{0}, std::size_t{1}, n / 2, n}) {
                Bytes planted = contents;
                if (at + needle.size() <= n) {
                    plant(planted, at, needle);
                }
                for (const bool at_end : {true, false}) {
                    expect_reverse_match_naive(
                        at_end ? page.at_end(planted) : page.at_start(planted), needle);
                    ASSERT_FALSE(HasFatalFailure())
                        << "length " << n << ", needle of " << needle.size() << " at " << at;
                }
            }
        }
    }
}

QARVO_FOR_EVERY_BACKEND(ReverseGuardPages);

}  // namespace
}  // namespace qarvo::test
