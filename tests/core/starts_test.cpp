// find_starts and count_starts on every variant, against a plain scan of
// every start (overlapping) or the greedy non-overlapping ones: random
// haystacks in batches of 1, 2 and 3 offsets; needles planted at every
// position of every length across the vector boundaries; periodic needles
// in runs of their period; and every read inside the range, at both guard
// pages.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

using Offsets = std::vector<std::uint64_t>;

// The offsets p >= from where the needle starts, each at least `step` past
// the one before: the needle compared at every offset in turn.
Offsets plain_starts(std::span<const std::uint8_t> haystack, std::span<const std::uint8_t> needle,
                     std::size_t from, std::size_t step) {
    Offsets out;
    const std::size_t n = haystack.size();
    const std::size_t m = needle.size();
    for (std::size_t p = from; m <= n && p <= n - m;) {
        bool equal = true;
        for (std::size_t k = 0; k < m && equal; ++k) {
            equal = haystack[p + k] == needle[k];
        }
        if (equal) {
            out.push_back(p);
            p += step;
        } else {
            ++p;
        }
    }
    return out;
}

class Starts : public EveryBackend {
protected:
    // Every start from `from`, in batches of `batch`, and the count; both
    // checked against the plain scan, and the cursor after each call.
    void expect_starts(std::span<const std::uint8_t> haystack, std::span<const std::uint8_t> needle,
                       std::size_t step, std::size_t batch, std::size_t from,
                       const std::string& what) const {
        const Offsets want = plain_starts(haystack, needle, from, step);
        const std::size_t n = haystack.size();
        const std::size_t m = needle.size();
        StartsCursor cursor{from, step};
        Offsets got;
        std::vector<std::uint64_t> out(batch);
        for (std::size_t calls = 0; calls <= want.size() + 1; ++calls) {
            const std::size_t wrote =
                routines().find_starts(range_of(haystack), range_of(needle), cursor, out);
            ASSERT_LE(wrote, batch) << what;
            got.insert(got.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(wrote));
            if (wrote == batch) {
                ASSERT_EQ(cursor.next, got.back() + step) << what;
            } else {
                ASSERT_TRUE(m > n || cursor.next >= n - m + 1)
                    << what << ": cursor " << cursor.next;
                break;
            }
        }
        ASSERT_EQ(got, want) << what << ", batches of " << batch;
        StartsCursor counter{from, step};
        ASSERT_EQ(routines().count_starts(range_of(haystack), range_of(needle), counter),
                  want.size())
            << what;
        ASSERT_TRUE(m > n || counter.next >= n - m + 1) << what;
    }

    // Overlapping and not, in batches of 1, 2, 3 and all at once.
    void expect_every_way(std::span<const std::uint8_t> haystack,
                          std::span<const std::uint8_t> needle, const std::string& what) const {
        for (const std::size_t step : {std::size_t{1}, needle.size()}) {
            for (const std::size_t batch : {1u, 2u, 3u, 1000u}) {
                expect_starts(haystack, needle, step, batch, 0,
                              what + (step == 1 ? ", overlapping" : ", non-overlapping"));
                if (::testing::Test::HasFatalFailure()) {
                    return;
                }
            }
        }
    }
};

TEST_P(Starts, RandomHaystacksOfFewLetters) {
    std::mt19937 rng(9);
    for (int round = 0; round < 1500; ++round) {
        const std::size_t alphabet = 1 + rng() % 3;
        Bytes haystack(rng() % 400);
        for (auto& b : haystack) {
            b = static_cast<std::uint8_t>('a' + rng() % alphabet);
        }
        Bytes needle(2 + rng() % (kShortNeedleMax - 1));
        for (auto& b : needle) {
            b = static_cast<std::uint8_t>('a' + rng() % alphabet);
        }
        const std::size_t step = rng() % 2 == 0 ? 1 : 1 + rng() % needle.size();
        const std::size_t from = haystack.empty() || rng() % 2 == 0 ? 0 : rng() % haystack.size();
        expect_starts(haystack, needle, step, 1 + rng() % 4, from,
                      "round " + std::to_string(round) + ", n " + std::to_string(haystack.size()) +
                          ", m " + std::to_string(needle.size()) + ", step " +
                          std::to_string(step) + ", from " + std::to_string(from));
        ASSERT_FALSE(HasFatalFailure());
    }
}

TEST_P(Starts, PlantedAtEveryPositionAcrossTheVectors) {
    // Every length up to three 64-byte vectors and a few, the needle at every
    // position alone, then beside a second copy a vector or less further.
    const Bytes needles[] = {Bytes{'q', 'r'},
                             Bytes{'t', 'h', 'e'},
                             Bytes{'s', 'e', 'l', 'f', '.'},
                             Bytes{0, 0, 0, 0},
                             Bytes(kShortNeedleMax, 'q'),
                             Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}};
    for (const Bytes& needle : needles) {
        const std::size_t m = needle.size();
        const std::uint8_t filler = filler_for(needle);
        for (std::size_t n = 0; n <= 200; ++n) {
            Bytes haystack(n, filler);
            for (std::size_t p = 0; p + m <= n; ++p) {
                plant(haystack, p, needle);
                expect_starts(haystack, needle, m, 4, 0, "one at " + std::to_string(p));
                ASSERT_FALSE(HasFatalFailure()) << "n " << n << ", m " << m;
                for (const std::size_t gap : {m, m + 1, std::size_t{31}, std::size_t{63}}) {
                    if (p + gap + m <= n) {
                        plant(haystack, p + gap, needle);
                        expect_starts(
                            haystack, needle, 1, 1, 0,
                            "two, at " + std::to_string(p) + " and " + std::to_string(p + gap));
                        ASSERT_FALSE(HasFatalFailure()) << "n " << n << ", m " << m;
                        std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p + gap), m,
                                    filler);
                        plant(haystack, p, needle);
                    }
                }
                std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), m, filler);
            }
        }
    }
}

TEST_P(Starts, PeriodicNeedlesInRunsOfTheirPeriod) {
    // Every position a candidate and most a match: "aa" in a run of a
    // overlaps at every offset and, not overlapping, takes every other.
    const std::string needles[] = {"aa", "aaa", "abab", "aba", "aabaab", std::string(16, 'a')};
    for (const std::string& text : needles) {
        const Bytes needle(text.begin(), text.end());
        for (const std::size_t n :
             {0u, 1u, 2u, 15u, 16u, 17u, 31u, 33u, 63u, 64u, 65u, 129u, 200u, 1000u}) {
            for (const char* unit : {"a", "ab", "aab"}) {
                const std::string u(unit);
                Bytes haystack(n);
                for (std::size_t k = 0; k < n; ++k) {
                    haystack[k] = static_cast<std::uint8_t>(u[k % u.size()]);
                }
                expect_every_way(haystack, needle,
                                 "'" + text + "' in " + std::to_string(n) + " of '" + u + "'");
                ASSERT_FALSE(HasFatalFailure());
                if (n > 3) {
                    haystack[n / 2] = 'z';  // a break in the run
                    expect_every_way(haystack, needle, "'" + text + "' with a break");
                    ASSERT_FALSE(HasFatalFailure());
                }
            }
        }
    }
}

TEST_P(Starts, EveryReadInsideTheRange) {
    // Haystacks of 0 to 200 bytes right before the upper guard page and
    // right after the lower one: the needle at every position, all but its
    // last byte at the very end, and ranges of NUL where every position is a
    // candidate of the NUL needles (a lane past the end read as zero would
    // complete the partial needle).
    const Bytes needles[] = {Bytes{0, 0},
                             Bytes{0, 0, 0},
                             Bytes{0, 0, 0, 0},
                             Bytes{'q', 0, 0, 0, 0},
                             Bytes(kShortNeedleMax, 0),
                             Bytes{'x', 'y', 'z', 'w', 'v', 'u', 't'}};
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    for (std::size_t n = 0; n <= 200; ++n) {
        for (const Bytes& needle : needles) {
            const std::size_t m = needle.size();
            for (const std::uint8_t fill : {std::uint8_t{'.'}, std::uint8_t{0}}) {
                Bytes contents(n, fill);
                if (m - 1 <= n) {
                    plant(contents, n - (m - 1),
                          std::span<const std::uint8_t>(needle).first(m - 1));
                }
                for (const bool at_end : {true, false}) {
                    const auto haystack = at_end ? page.at_end(contents) : page.at_start(contents);
                    expect_starts(haystack, needle, 1, 1000, 0, "partial at the end");
                    ASSERT_FALSE(HasFatalFailure()) << "n " << n << ", m " << m;
                }
            }
            Bytes contents(n, '.');
            for (std::size_t p = 0; p + m <= n; ++p) {
                plant(contents, p, needle);
                for (const bool at_end : {true, false}) {
                    const auto haystack = at_end ? page.at_end(contents) : page.at_start(contents);
                    expect_starts(haystack, needle, m, 2, 0, "at " + std::to_string(p));
                    ASSERT_FALSE(HasFatalFailure()) << "n " << n << ", m " << m;
                }
                std::fill_n(contents.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
            }
        }
    }
}

TEST_P(Starts, LongRangesAtEveryStartAddressModulo64) {
    // The two-vector steps, the one-vector step and the tail at every
    // alignment, with a dense needle that matches at every fifth byte.
    constexpr std::size_t kWidest = 64;
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    const Bytes needle{'t', 'h', 'e'};
    for (const std::size_t shortest : {std::size_t{300}, std::size_t{1100}}) {
        for (std::size_t start = 0; start < kWidest; ++start) {
            const std::size_t n = shortest + (2 * kWidest - start - shortest % kWidest) % kWidest;
            const std::span<std::uint8_t> haystack = page.last(n);
            for (std::size_t k = 0; k < n; ++k) {
                haystack[k] = static_cast<std::uint8_t>("the t"[k % 5]);
            }
            expect_every_way(haystack, needle, "start " + std::to_string(start));
            ASSERT_FALSE(HasFatalFailure());
        }
    }
}

QARVO_FOR_EVERY_BACKEND(Starts);

}  // namespace
}  // namespace qarvo::test
