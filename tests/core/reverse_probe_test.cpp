// rfind_n stays linear: on inputs where nearly every window passes the
// filter and fails late, the bytes compared in full plus the comparisons of
// the Two-Way search it hands over to stay within a fixed multiple of n + m,
// and the hand-over really happens. Counted by a probe (rfind_long_with in
// reverse_n.hpp) on the search's own code, instantiated here for the vector
// types this TU's target has: the scalar emulation, and SSE2 or Advanced SIMD.
// (The wide variants' blocks are the same code over wider vectors; their
// results on these inputs are checked in reverse_test.cpp.)
#define QARVO_ISA_NAMESPACE isa_reverse_probe_test

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "naive.hpp"
#include "reverse_n.hpp"
#include "two_way.hpp"

namespace qarvo::detail {
namespace {

using test::Bytes;
using test::naive_rfind;
using test::range_of;

// Counts the bytes verification compares and Two-Way's comparisons, through
// the Two-Way search's counting hook.
struct CountingProbe {
    std::size_t verified = 0;
    std::size_t two_way = 0;
    bool handed_over = false;

    void compared(std::size_t k) noexcept { verified += k; }
    SearchResult rest(ByteRange haystack, ByteRange needle) noexcept {
        handed_over = true;
        return two_way_find_with<Direction::last>(haystack, needle,
                                                  [this](std::uint8_t a, std::uint8_t b) {
                                                      ++two_way;
                                                      return a == b;
                                                  });
    }
};

// The bound asserted: verification stops after VerifyBudget's four bytes per
// byte covered plus four needles and 256 bytes of slack, and Two-Way from the
// end compares at most 2n.
std::size_t bound(std::size_t n, std::size_t m) {
    return 8 * (n + m) + 512;
}

template <class V>
class ReverseProbe : public ::testing::Test {
protected:
    // The search's result, checked against the naive scan; the comparisons
    // made, checked against the bound. Returns the probe.
    CountingProbe run(const Bytes& haystack, const Bytes& needle) {
        CountingProbe probe;
        const SearchResult r =
            rfind_long_with<V, CountingProbe>(range_of(haystack), range_of(needle), probe);
        EXPECT_EQ(r, naive_rfind(haystack, needle))
            << "haystack " << haystack.size() << ", needle " << needle.size();
        EXPECT_LE(probe.verified + probe.two_way, bound(haystack.size(), needle.size()))
            << "haystack " << haystack.size() << ", needle " << needle.size() << ": "
            << probe.verified << " verified, " << probe.two_way << " by Two-Way";
        return probe;
    }
};

#if defined(__x86_64__) && defined(__SSE2__)
using Types = ::testing::Types<Scalar, Sse2>;
#elif defined(__aarch64__)
using Types = ::testing::Types<Scalar, Neon>;
#else
using Types = ::testing::Types<Scalar>;
#endif
TYPED_TEST_SUITE(ReverseProbe, Types);

// "abab..." with a needle of the same period broken at its second-to-last
// byte: every other window agrees on every byte but that one, so comparing
// each would cost n m / 2.
Bytes periodic(std::size_t n) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = i % 2 == 0 ? 'a' : 'b';
    }
    return out;
}

Bytes broken_periodic_needle(std::size_t half) {
    Bytes needle;
    for (std::size_t i = 0; i < half; ++i) {
        needle.push_back('a');
        needle.push_back('b');
    }
    needle[needle.size() - 2] = 'b';
    return needle;
}

TYPED_TEST(ReverseProbe, PeriodicInputsHandOverAndStayLinear) {
    for (const std::size_t n : {std::size_t{2000}, std::size_t{20000}}) {
        const Bytes haystack = periodic(n);
        for (const std::size_t half : {8u, 50u, 400u}) {
            const Bytes needle = broken_periodic_needle(half);
            const CountingProbe probe = this->run(haystack, needle);
            ASSERT_FALSE(this->HasFailure());
            // Comparing every candidate would have cost about n m / 2.
            EXPECT_TRUE(probe.handed_over) << "n " << n << ", half " << half;
            // Present once near the start, below all the near misses.
            Bytes planted = haystack;
            std::copy(needle.begin(), needle.end(), planted.begin() + 10);
            EXPECT_TRUE(this->run(planted, needle).handed_over);
        }
    }
}

// Below kReverseEdgeAnchorsBelow windows the needle's edges are tested,
// unranked; a needle broken in the middle passes them at every other window
// and must still hand over. Longer haystacks rank their anchors.
TYPED_TEST(ReverseProbe, ShortHaystacksTestTheEdgesAndStayLinear) {
    for (const std::size_t n : {std::size_t{600}, kReverseEdgeAnchorsBelow + 300}) {
        const Bytes haystack = periodic(n);
        for (const std::size_t half : {8u, 50u}) {
            Bytes needle = broken_periodic_needle(half);
            needle[needle.size() - 2] = 'a';
            needle[half] = needle[half] == 'a' ? 'b' : 'a';
#if QARVO_SEARCH_PROBES
            g_search_probe = {};
#endif
            const CountingProbe probe = this->run(haystack, needle);
            ASSERT_FALSE(this->HasFailure());
            EXPECT_TRUE(probe.handed_over) << "n " << n << ", half " << half;
#if QARVO_SEARCH_PROBES
            const bool edges = n - needle.size() + 1 < kReverseEdgeAnchorsBelow;
            EXPECT_EQ(g_search_probe.took(SearchPath::kReverseEdgeAnchors), edges) << "n " << n;
#endif
        }
    }
}

TYPED_TEST(ReverseProbe, RandomNearMissesStayLinear) {
    // Haystacks over two bytes and needles cut from them with one byte
    // changed: many windows agree on the anchors.
    std::mt19937_64 rng(0x6c69'6e65'6172ULL);
    for (int round = 0; round < 200; ++round) {
        Bytes haystack(500 + rng() % 5000);
        const unsigned period = 1 + static_cast<unsigned>(rng() % 5);
        for (std::size_t i = 0; i < haystack.size(); ++i) {
            haystack[i] = (i % (period + 1) == 0) ? 'b' : 'a';
            if (rng() % 500 == 0) {
                haystack[i] = 'c';
            }
        }
        const std::size_t m = 4 + rng() % 200;
        const std::size_t from = rng() % (haystack.size() - m);
        Bytes needle(haystack.begin() + static_cast<std::ptrdiff_t>(from),
                     haystack.begin() + static_cast<std::ptrdiff_t>(from + m));
        needle[rng() % m] ^= 0x03;
        this->run(haystack, needle);
        ASSERT_FALSE(this->HasFailure()) << "round " << round;
    }
}

TYPED_TEST(ReverseProbe, AnchorsRankedRareButCommonHereAreChosenAgainByCount) {
    // Bytes that text rarely uses, and nothing else: the ranked anchors pass
    // nearly every window. The needle's one byte text uses often, 'e', never
    // occurs in the haystack, so a filter chosen by counting the haystack
    // rejects every window and nothing goes to Two-Way.
    std::mt19937_64 rng(0x7265'7665'7273'65ULL);
    const char rare[] = {'z', 'q', 'x', 'j'};
    for (const std::size_t n : {std::size_t{3000}, std::size_t{40000}}) {
        Bytes haystack(n);
        for (auto& byte : haystack) {
            byte = static_cast<std::uint8_t>(rare[rng() % 4]);
        }
        Bytes needle(haystack.begin() + 100, haystack.begin() + 124);
        needle[7] = 'e';
        const CountingProbe absent = this->run(haystack, needle);
        ASSERT_FALSE(this->HasFailure());
        EXPECT_FALSE(absent.handed_over) << "n " << n;
        // Planted near the start: found by the counted filter, below every
        // window the ranked one passed.
        Bytes planted = haystack;
        std::copy(needle.begin(), needle.end(), planted.begin() + 5);
        const CountingProbe present = this->run(planted, needle);
        EXPECT_FALSE(present.handed_over) << "n " << n;
    }
}

// A long haystack searches its last kRankedPrefix windows with the ranked
// anchors and then, with no match there, counts the bytes below them: the
// needle's bytes rank as common text (three anchors tested) but are absent
// here, so one anchor is tested from there down. A match in the last windows
// answers before the count; a shorter haystack never counts.
TYPED_TEST(ReverseProbe, ALongHaystackCountsBelowItsRankedSuffix) {
    std::mt19937_64 rng(0x7375'6666'6978ULL);
    const char rare[] = {'z', 'q', 'x', 'j', 'k', 'v'};
    const Bytes needle = {'e', 't', 'a', 'o', 'n', 'e'};
    const std::size_t long_n = kCountFrom + 4096;
    for (const std::size_t n : {kCountFrom / 2, long_n}) {
        Bytes haystack(n);
        for (auto& byte : haystack) {
            byte = static_cast<std::uint8_t>(rare[rng() % 6]);
        }
        for (const std::size_t at : {std::size_t{0}, std::size_t{100}, n - 5000, n - 6}) {
            Bytes planted = haystack;
            if (at != 0) {
                std::copy(needle.begin(), needle.end(),
                          planted.begin() + static_cast<std::ptrdiff_t>(at));
            }
#if QARVO_SEARCH_PROBES
            g_search_probe = {};
#endif
            const CountingProbe probe = this->run(planted, needle);
            ASSERT_FALSE(this->HasFailure()) << "n " << n << ", at " << at;
            EXPECT_FALSE(probe.handed_over);
#if QARVO_SEARCH_PROBES
            const bool in_suffix = at != 0 && n - at < kRankedPrefix;
            EXPECT_EQ(g_search_probe.took(SearchPath::kCountedAfterRankedPrefix),
                      n == long_n && !in_suffix)
                << "n " << n << ", at " << at;
#endif
        }
    }
}

// Where the ranked anchors prove weak in the last windows (chosen again there
// by counts), the windows below go on with them rather than with one more
// count. The same needle over a haystack without that top takes the count.
TYPED_TEST(ReverseProbe, RankedAnchorsWeakInTheLastWindowsAreNotCountedAgainBelow) {
    std::mt19937_64 rng(0x7765'616b'746fULL);
    const char rare[] = {'z', 'q', 'x', 'j', 'k', 'v'};
    const std::string text = "etaoinshrdlu";
    const Bytes needle(text.begin(), text.end());
    const std::size_t n = kCountFrom + 4096;
    for (const bool weak_top : {false, true}) {
        Bytes haystack(n);
        for (auto& byte : haystack) {
            byte = static_cast<std::uint8_t>(rare[rng() % 6]);
        }
        if (weak_top) {
            // Every twelfth window agrees with the needle but for its 'e'.
            for (std::size_t i = n - 2 * kRankedPrefix; i < n; ++i) {
                const std::size_t k = i % needle.size();
                haystack[i] = k == 0 ? 'X' : needle[k];
            }
        }
#if QARVO_SEARCH_PROBES
        g_search_probe = {};
#endif
        this->run(haystack, needle);
        ASSERT_FALSE(this->HasFailure()) << "weak top " << weak_top;
#if QARVO_SEARCH_PROBES
        EXPECT_EQ(g_search_probe.took(SearchPath::kRecountedAfterFalseAlarms), weak_top);
        EXPECT_EQ(g_search_probe.took(SearchPath::kCountedAfterRankedPrefix), !weak_top);
#endif
    }
}

// Records of one shape, searched from the end for a needle cut from one
// with its ':' changed to ',': every single byte and every adjacent pair of
// it occurs on each line, so counted anchors pass once a line and fail in
// full. The recount filters on the byte where the lines depart from the
// needle, and compares far fewer windows than one per line.
TYPED_TEST(ReverseProbe, TheByteWhereTheLinesDepartFromTheNeedle) {
    const std::string line =
        "{\"id\": 7, \"user\": {\"name\": \"ann\", \"city\": \"Rome\"}, \"level\": \"info\"}\n";
    const std::string text = ", \"user\", {\"na";
    const Bytes needle(text.begin(), text.end());
    Bytes haystack;
    while (haystack.size() < kDepartureFrom + 8192) {
        haystack.insert(haystack.end(), line.begin(), line.end());
    }
    const std::size_t lines = haystack.size() / line.size();
#if QARVO_SEARCH_PROBES
    g_search_probe = {};
#endif
    const CountingProbe probe = this->run(haystack, needle);
    ASSERT_FALSE(this->HasFailure());
#if QARVO_SEARCH_PROBES
    EXPECT_TRUE(g_search_probe.took(SearchPath::kDepartureAnchor)) << g_search_probe.paths;
#endif
    EXPECT_LT(probe.verified, lines * needle.size() / 8);
    // The needle near the start, below every line that departs from it.
    Bytes planted = haystack;
    std::copy(needle.begin(), needle.end(), planted.begin() + 100);
    this->run(planted, needle);
}

}  // namespace
}  // namespace qarvo::detail
