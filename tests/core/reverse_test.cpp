// rfind_one/two/three/n and count_one on every variant, against the naive
// scans from the end and the naive count: every length up to 300 with the
// needle at every position (every block boundary of every width, both ends),
// several matches (the highest wins), the empty needle, needles longer than
// the haystack, 0x00 and 0xFF, every start address modulo 64, and inputs on
// which nearly every window is a candidate that fails late.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string>

#include "backend_fixture.hpp"
#include "filter_policy.hpp"
#include "planting.hpp"
#include "probe.hpp"
#include "variants.hpp"

namespace qarvo::test {
namespace {

class Reverse : public EveryBackend {
protected:
    Search rfind_for(const Bytes& needle) const {
        return [this, needle](ByteRange h) {
            return rfind_by_length(std::span<const std::uint8_t>(h.data, h.size), needle);
        };
    }
    Search rfind_n_for(const Bytes& needle) const {
        const SearchRoutines& r = routines();
        return [&r, needle](ByteRange h) { return r.rfind_n(h, range_of(needle)); };
    }
};

// Needles of every routine: one to three bytes (their own routines and
// rfind_n's dispatch), and longer ones whose windows reach furthest.
const Bytes kNeedles[] = {
    Bytes{'x'},
    Bytes{'x', 'y'},
    Bytes{'x', 'y', 'z'},
    Bytes{'q', 'r', 's', 't'},
    Bytes{'q', 'r', 's', 't', 'u'},
    Bytes{'q', 'r', 'z', 'j', 'x', 'k', 'v', 's', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'},
    Bytes(64, 'q'),
};

TEST_P(Reverse, FindsTheOnlyMatchAtEveryPositionOfEveryLength) {
    for (const Bytes& needle : kNeedles) {
        expect_found_at_every_position(rfind_for(needle), needle, 300, filler_for(needle));
        ASSERT_FALSE(HasFatalFailure()) << "needle of " << needle.size();
        expect_found_at_every_position(rfind_n_for(needle), needle, 300, filler_for(needle));
        ASSERT_FALSE(HasFatalFailure()) << "rfind_n, needle of " << needle.size();
    }
}

TEST_P(Reverse, FindsTheOnlyZeroOrAllOnesByteAtEveryPosition) {
    for (const std::uint8_t byte : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        const std::uint8_t filler = byte == 0x00 ? 0xFF : 0x00;
        for (const Bytes& needle : {Bytes{byte}, Bytes{byte, byte}, Bytes{byte, byte, byte},
                                    Bytes{byte, filler, byte, byte, byte}}) {
            expect_found_at_every_position(rfind_for(needle), needle, 200, filler);
            ASSERT_FALSE(HasFatalFailure()) << "byte " << int{byte} << ", needle " << needle.size();
        }
    }
}

TEST_P(Reverse, FindsTheOnlyMatchAroundTheWidestMainLoop) {
    // 256 positions are one main-loop step of the 64-byte variant; the
    // lengths add each smaller step and a remainder of every kind.
    for (const std::size_t n : {1023u, 1024u, 1025u, 1535u, 2047u, 2048u, 2049u, 2111u}) {
        for (const Bytes& needle : {Bytes{'x'}, Bytes{'x', 'y', 'z'}, Bytes{'q', 'r', 's', 't'}}) {
            expect_found_at_every_position_of(rfind_for(needle), needle, n, '.');
            ASSERT_FALSE(HasFatalFailure()) << "needle of " << needle.size();
        }
    }
}

TEST_P(Reverse, ReturnsTheHighestOfTwoMatches) {
    // A lower match planted anywhere below a higher one, in the same vector,
    // the same step, another step, and the other mask word: the higher wins.
    for (const Bytes& needle : kNeedles) {
        if (needle.size() > 17) {
            continue;
        }
        for (const std::size_t n : {std::size_t{40}, std::size_t{150}}) {
            expect_pairs_match_naive(rfind_for(needle), needle, needle, needle, n,
                                     filler_for(needle), naive_rfind);
            ASSERT_FALSE(HasFatalFailure()) << "needle of " << needle.size() << ", length " << n;
        }
    }
}

TEST_P(Reverse, ReturnsTheHigherOfTwoMatchesInEveryShortRange) {
    // Ranges of up to one 64-byte vector take the wide variants' short paths.
    for (const Bytes& needle :
         {Bytes{'x'}, Bytes{'x', 'y'}, Bytes{'x', 'y', 'z'}, Bytes{'q', 'r', 's', 't', 'u'}}) {
        for (std::size_t n = 2; n <= 70; ++n) {
            expect_pairs_match_naive(rfind_for(needle), needle, needle, needle, n, '.',
                                     naive_rfind);
            ASSERT_FALSE(HasFatalFailure()) << "needle of " << needle.size();
        }
    }
}

TEST_P(Reverse, ReturnsTheMatchAboveADecoyThatFailsLate) {
    // A near miss (all but one byte) above the match: a block holds both, the
    // decoy's candidate is compared first and fails.
    const Bytes needle{'q', 'r', 's', 't', 'u', 'v', 'w'};
    const Bytes decoy{'q', 'r', 's', 't', 'u', '.', 'w'};
    for (const std::size_t n : {std::size_t{60}, std::size_t{140}}) {
        expect_pairs_match_naive(rfind_n_for(needle), needle, decoy, needle, n, '.', naive_rfind);
        ASSERT_FALSE(HasFatalFailure()) << "length " << n;
    }
}

TEST_P(Reverse, HighestMatchAtEveryStartAddressModulo64) {
    // The wide variants test the last vector first, then go on from an
    // aligned offset that the start address moves. A match 70 bytes below
    // another must never win, wherever the blocks' edges fall between them.
    constexpr std::size_t kWidest = 64;
    for (const Bytes& needle : {Bytes{'x'}, Bytes{'x', 'y'}, Bytes{'q', 'r', 's', 't', 'u'}}) {
        const std::size_t m = needle.size();
        for (const std::size_t n : {std::size_t{700}, std::size_t{1100}}) {
            Bytes storage(n + kWidest, '.');
            for (std::size_t start = 0; start < kWidest; ++start) {
                const std::span<std::uint8_t> haystack(storage.data() + start, n);
                for (std::size_t p = n - m; p >= 70 && p + 640 >= n; --p) {
                    plant(haystack, p, needle);
                    plant(haystack, p - 70, needle);
                    ASSERT_EQ(rfind_by_length(haystack, needle), SearchResult::at(p))
                        << "length " << n << ", start " << start << ", needle of " << m << " at "
                        << p;
                    std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
                    std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p - 70), m, '.');
                }
            }
        }
    }
}

TEST_P(Reverse, EmptyNeedleIsFoundAtTheEnd) {
    for (const std::size_t n : {0u, 1u, 17u, 300u}) {
        const Bytes haystack(n, 'a');
        EXPECT_EQ(routines().rfind_n(range_of(haystack), ByteRange{}), SearchResult::at(n)) << n;
    }
    EXPECT_EQ(routines().rfind_n(ByteRange{nullptr, 0}, ByteRange{nullptr, 0}),
              SearchResult::at(0));
}

TEST_P(Reverse, NeedleLongerThanTheHaystackIsNotFound) {
    for (std::size_t n = 0; n <= 70; ++n) {
        const Bytes haystack(n, 'a');
        const Bytes needle(n + 1, 'a');
        EXPECT_EQ(routines().rfind_n(range_of(haystack), range_of(needle)),
                  SearchResult::not_found())
            << n;
    }
    const Bytes one{'a'};
    EXPECT_EQ(routines().rfind_n(ByteRange{nullptr, 0}, range_of(one)), SearchResult::not_found());
    EXPECT_EQ(routines().rfind_one(ByteRange{nullptr, 0}, 'a'), SearchResult::not_found());
    EXPECT_EQ(routines().rfind_two(ByteRange{nullptr, 0}, 'a', 'a'), SearchResult::not_found());
    EXPECT_EQ(routines().rfind_three(ByteRange{nullptr, 0}, 'a', 'a', 'a'),
              SearchResult::not_found());
    EXPECT_EQ(routines().count_one(ByteRange{nullptr, 0}, 'a'), 0u);
}

TEST_P(Reverse, HaystackOfTheNeedleIsFoundAtItsLastWindow) {
    for (const std::size_t n : {1u, 15u, 16u, 17u, 63u, 64u, 65u, 255u, 256u, 257u, 1100u}) {
        const Bytes haystack(n, 0xFF);
        for (std::size_t m = 1; m <= 5 && m <= n; ++m) {
            const Bytes needle(m, 0xFF);
            EXPECT_EQ(rfind_by_length(haystack, needle), SearchResult::at(n - m)) << n << " " << m;
        }
        EXPECT_EQ(routines().rfind_one(range_of(haystack), 0xFE), SearchResult::not_found()) << n;
    }
}

TEST_P(Reverse, RandomDifferentialOverSmallAlphabets) {
    // Bytes from two to four values, so that matches, near misses and
    // several matches per block are everywhere; needles cut from the
    // haystack (found) or random (mostly not).
    std::mt19937_64 rng(0x7265'7665'7273'6521ULL);
    for (int round = 0; round < 3000; ++round) {
        const unsigned sigma = 2 + static_cast<unsigned>(rng() % 3);
        Bytes haystack(rng() % 400);
        for (auto& b : haystack) {
            b = static_cast<std::uint8_t>('a' + rng() % sigma);
        }
        Bytes needle(1 + rng() % 12);
        if (round % 2 == 0 && needle.size() <= haystack.size()) {
            const std::size_t at = rng() % (haystack.size() - needle.size() + 1);
            std::copy_n(haystack.begin() + static_cast<std::ptrdiff_t>(at), needle.size(),
                        needle.begin());
        } else {
            for (auto& b : needle) {
                b = static_cast<std::uint8_t>('a' + rng() % sigma);
            }
        }
        expect_reverse_match_naive(haystack, needle);
        ASSERT_FALSE(HasFatalFailure()) << "round " << round;
    }
}

// Windows that nearly all pass the filter and fail late: the search hands
// over to Two-Way from the end part way through. Checked by result here on
// every variant; reverse_probe_test.cpp counts the comparisons.
TEST_P(Reverse, PeriodicHaystackAndNeedleBrokenNearItsEnd) {
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text += "ab";
    }
    const Bytes haystack(text.begin(), text.end());
    for (const std::size_t half : {3u, 10u, 64u, 200u}) {
        Bytes needle;
        for (std::size_t i = 0; i < half; ++i) {
            needle.push_back('a');
            needle.push_back('b');
        }
        needle[needle.size() - 2] = 'b';
        expect_reverse_match_naive(haystack, needle);
        ASSERT_FALSE(HasFatalFailure()) << "half " << half;
        for (const std::size_t at : {0u, 1u, 100u, 1001u, 2500u, 5000u}) {
            Bytes planted = haystack;
            plant(planted, at, needle);
            expect_reverse_match_naive(planted, needle);
            ASSERT_FALSE(HasFatalFailure()) << "half " << half << ", planted at " << at;
        }
    }
}

TEST_P(Reverse, SparseRandomDifferential) {
    // Mostly 'a' with a few 'b': long runs of candidates.
    std::mt19937_64 rng(0x6261'6261ULL);
    std::bernoulli_distribution rare_b(0.004);
    for (int round = 0; round < 150; ++round) {
        Bytes haystack(rng() % 4000);
        for (auto& b : haystack) {
            b = rare_b(rng) ? 'b' : 'a';
        }
        Bytes needle(4 + rng() % 117, 'a');
        needle[1 + rng() % (needle.size() - 2)] = 'b';
        if (round % 2 == 0) {
            needle[1 + rng() % (needle.size() - 2)] = 'b';
        }
        expect_reverse_match_naive(haystack, needle);
        ASSERT_FALSE(HasFatalFailure()) << "round " << round;
    }
}

TEST_P(Reverse, FindsTheMatchOnEitherSideOfTheLastRankedWindows) {
    // From kCountFrom windows the last kRankedPrefix are searched with ranked
    // anchors and the rest with anchors counted below them: a match just
    // above the cut, one whose window crosses it, and one below it, at
    // several start addresses. The needle's bytes rank as common text and
    // the haystack lacks them, so the count tests a single anchor.
    const Bytes needle{'e', 't', 'a', 'o', 'n', 'e'};
    const std::size_t m = needle.size();
    const std::size_t n = detail::kCountFrom + 8192;
    const std::size_t cut = n - m + 1 - detail::kRankedPrefix;  // the lowest ranked window
    std::mt19937_64 rng(0x6375'7473ULL);
    Bytes storage(n + 64);
    for (auto& byte : storage) {
        byte = static_cast<std::uint8_t>("zqxjkv"[rng() % 6]);
    }
    for (const std::size_t start : {0u, 1u, 17u, 40u}) {
        const std::span<std::uint8_t> haystack(storage.data() + start, n);
        for (const std::size_t p :
             {n - m, cut, cut - 1, cut - 3, cut - m, std::size_t{5000}, std::size_t{0}}) {
            const Bytes saved(haystack.begin() + static_cast<std::ptrdiff_t>(p),
                              haystack.begin() + static_cast<std::ptrdiff_t>(p + m));
            plant(haystack, p, needle);
            const ByteRange h{haystack.data(), n};
            ASSERT_EQ(routines().rfind_n(h, range_of(needle)), SearchResult::at(p))
                << "start " << start << ", match at " << p;
            std::copy(saved.begin(), saved.end(),
                      haystack.begin() + static_cast<std::ptrdiff_t>(p));
        }
        ASSERT_EQ(routines().rfind_n(ByteRange{haystack.data(), n}, range_of(needle)),
                  naive_rfind(haystack, needle))
            << "start " << start;
    }
}

TEST_P(Reverse, FindsTheMatchInAndBelowTheLastStepPastDecoys) {
    // From kReverseEdgeAnchorsBelow windows the wide variants first test the
    // last four blocks on the needle's edges, comparing each candidate in
    // full, and give way to the filtered search of the whole haystack after
    // a few that fail. Decoys that pass the edges and fail inside, none to
    // more than the suffix takes, above a match at every position of the
    // last few hundred windows and at the start; haystacks of exactly that
    // many windows and more.
    const Bytes needle{'q', 'r', 's', 't', 'u', 'v', 'w'};
    const Bytes decoy{'q', 'r', 's', '.', 'u', 'v', 'w'};
    const std::size_t m = needle.size();
    for (const std::size_t n : {detail::kReverseEdgeAnchorsBelow + m - 1, std::size_t{5000}}) {
        for (const std::size_t decoys : {0u, 3u, 8u, 12u}) {
            Bytes haystack(n, '.');
            for (std::size_t k = 0; k < decoys; ++k) {
                plant(haystack, n - m - k * m, decoy);
            }
            const std::size_t highest = n - m - decoys * m;  // the first window clear of them
            for (std::size_t p = highest + 1; p-- > 0;) {
                if (highest - p > 330 && p != 0) {
                    continue;
                }
                plant(haystack, p, needle);
                detail::g_search_probe = {};
                ASSERT_EQ(routines().rfind_n(range_of(haystack), range_of(needle)),
                          SearchResult::at(p))
                    << n << " bytes, " << decoys << " decoys, match at " << p;
                // It gives way at its kPlainMisses-th decoy, on the wide
                // variants only (the rest have no suffix).
                const bool gives_way =
                    detail::long_parts_for(GetParam())->has_pieces() && decoys >= 8;
                EXPECT_EQ(detail::g_search_probe.took(detail::SearchPath::kPlainSuffixGaveWay),
                          gives_way)
                    << n << " bytes, " << decoys << " decoys, match at " << p;
                std::fill_n(haystack.begin() + static_cast<std::ptrdiff_t>(p), m, '.');
            }
            ASSERT_EQ(routines().rfind_n(range_of(haystack), range_of(needle)),
                      SearchResult::not_found())
                << n << " bytes, " << decoys << " decoys";
        }
    }
}

TEST_P(Reverse, CountsEveryLengthAtEveryStartAddress) {
    // Every length up to 300 from every start address modulo 64 (so the
    // wide variants' aligned head and their last overlapping vector take
    // every share), over bytes where the needle is about every third one.
    constexpr std::size_t kWidest = 64;
    std::mt19937_64 rng(0x636f'756e'74ULL);
    Bytes storage(300 + kWidest);
    for (auto& b : storage) {
        b = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0xFF : rng() % 256);
    }
    for (std::size_t start = 0; start < kWidest; ++start) {
        for (std::size_t n = 0; n <= 300; ++n) {
            const std::span<const std::uint8_t> haystack(storage.data() + start, n);
            for (const std::uint8_t byte : {std::uint8_t{0xFF}, std::uint8_t{0x00}}) {
                ASSERT_EQ(routines().count_one(range_of(haystack), byte),
                          naive_count(haystack, byte))
                    << "length " << n << ", start " << start << ", byte " << int{byte};
            }
        }
    }
}

TEST_P(Reverse, CountsPastTheByteCountersLimit) {
    // A byte counter takes one match per step of four vectors and is added
    // up every 255 steps: 65280 bytes of AVX2, so a run of the needle byte
    // longer than that (and lengths just around one flush) must not wrap.
    for (const std::size_t n : {std::size_t{65279}, std::size_t{65280}, std::size_t{65281},
                                std::size_t{4 * 255 * 64 + 63}, std::size_t{300000}}) {
        const Bytes run(n, 'z');
        EXPECT_EQ(routines().count_one(range_of(run), 'z'), n);
        EXPECT_EQ(routines().count_one(range_of(run), 'y'), 0u);
        Bytes every_other = run;
        for (std::size_t i = 0; i < n; i += 2) {
            every_other[i] = 'y';
        }
        EXPECT_EQ(routines().count_one(range_of(every_other), 'y'), (n + 1) / 2) << n;
    }
}

QARVO_FOR_EVERY_BACKEND(Reverse);

}  // namespace
}  // namespace qarvo::test
