// MatchScan against the plain definition: every occurrence, non-overlapping
// (bytes.count's) or every start, in batches of any size and with any
// horizon; and the linear bound of an overlapping scan of a periodic needle,
// counted by the test build's probe (probe.hpp).
#include "qarvo/matches.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "naive.hpp"
#include "planting.hpp"
#include "probe.hpp"

namespace qarvo {
namespace {

using test::Bytes;
using test::plant;

std::vector<std::uint64_t> plain_matches(const Bytes& haystack, const Bytes& needle,
                                         bool overlapping) {
    std::vector<std::uint64_t> out;
    const std::size_t n = haystack.size();
    const std::size_t m = needle.size();
    std::size_t p = 0;
    while (m <= n && p <= n - m) {
        bool equal = true;
        for (std::size_t k = 0; k < m && equal; ++k) {
            equal = haystack[p + k] == needle[k];
        }
        if (equal) {
            out.push_back(p);
            p += overlapping || m == 0 ? 1 : m;
        } else {
            ++p;
        }
    }
    return out;
}

ByteRange range_of(const Bytes& bytes) {
    return ByteRange{bytes.data(), bytes.size()};
}

TEST(MatchScan, EveryOccurrenceInBatchesAndHorizons) {
    std::mt19937 rng(2026);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t alphabet = 1 + rng() % 3;
        Bytes haystack(rng() % 300);
        for (auto& b : haystack) {
            b = static_cast<std::uint8_t>('a' + rng() % alphabet);
        }
        Bytes needle(rng() % 7);
        for (auto& b : needle) {
            b = static_cast<std::uint8_t>('a' + rng() % alphabet);
        }
        const bool overlapping = (rng() & 1) != 0;
        const std::vector<std::uint64_t> want = plain_matches(haystack, needle, overlapping);

        MatchScan scan(range_of(haystack), range_of(needle), overlapping);
        std::vector<std::uint64_t> got;
        std::uint64_t batch[8];
        for (int guard = 0; guard < 2000 && !scan.done(); ++guard) {
            const std::size_t wanted = 1 + rng() % 8;
            // A horizon at or past the position, or none.
            const std::size_t horizon =
                rng() % 3 == 0 ? ~std::size_t{0} : scan.position() + rng() % 40;
            const std::size_t wrote = scan.next_batch({batch, wanted}, horizon);
            ASSERT_LE(wrote, wanted);
            got.insert(got.end(), batch, batch + wrote);
        }
        ASSERT_TRUE(scan.done());
        ASSERT_EQ(got, want) << "n=" << haystack.size() << " m=" << needle.size()
                             << " overlapping=" << overlapping;

        MatchScan counter(range_of(haystack), range_of(needle), overlapping);
        ASSERT_EQ(counter.count_rest(), want.size());
        ASSERT_EQ(count_matches(range_of(haystack), range_of(needle), overlapping), want.size());
    }
}

// Haystacks of dense stretches (the needle, or its bytes, every few bytes)
// and sparse ones (one match in several KiB), so that a scan of a short
// needle's starts changes between chunks of starts and find_n, and grows
// its chunks, at many offsets; in batches of 1, 2 and 3 with horizons.
TEST(MatchScan, ShortNeedlesThroughDenseAndSparseStretches) {
    std::mt19937 rng(77);
    for (int round = 0; round < 60; ++round) {
        const std::size_t m = 2 + rng() % (kShortNeedleMax - 1);
        Bytes needle(m);
        for (auto& b : needle) {
            b = static_cast<std::uint8_t>('a' + rng() % 2);
        }
        Bytes haystack;
        while (haystack.size() < 40000) {
            const bool dense = rng() % 2 == 0;
            const std::size_t stretch = 500 + rng() % 9000;
            const std::size_t start = haystack.size();
            haystack.resize(start + stretch, '.');
            const std::size_t gap = dense ? 1 + rng() % (2 * m) : 2000 + rng() % 6000;
            for (std::size_t p = start; p + m <= haystack.size(); p += gap) {
                plant(haystack, p, needle);
            }
        }
        for (const bool overlapping : {false, true}) {
            const std::vector<std::uint64_t> want = plain_matches(haystack, needle, overlapping);
            const std::size_t batch = 1 + static_cast<std::size_t>(round % 3);
            MatchScan scan(range_of(haystack), range_of(needle), overlapping);
            std::vector<std::uint64_t> got;
            std::uint64_t out[3];
            for (std::size_t calls = 0; calls < 4 * want.size() + 1000 && !scan.done(); ++calls) {
                const std::size_t horizon =
                    rng() % 2 == 0 ? ~std::size_t{0} : scan.position() + rng() % 5000;
                got.insert(got.end(), out, out + scan.next_batch({out, batch}, horizon));
            }
            ASSERT_TRUE(scan.done());
            ASSERT_EQ(got, want) << "round " << round << ", m " << m << ", overlapping "
                                 << overlapping;
            MatchScan counter(range_of(haystack), range_of(needle), overlapping);
            ASSERT_EQ(counter.count_rest(), want.size());
            ASSERT_EQ(count_matches(range_of(haystack), range_of(needle), overlapping),
                      want.size());
            MatchScan batches(range_of(haystack), range_of(needle), overlapping);
            std::vector<std::uint64_t> all(want.size() + 1);
            ASSERT_EQ(batches.next_batch(all), want.size());
        }
    }
}

// A scan told that it starts among dense matches begins with a chunk of
// starts instead of a search: the same occurrences either way, for short
// needles (which scan starts) and long ones (which search match by match),
// from offsets in sparse and in dense stretches.
TEST(MatchScan, StartingDenseFindsTheSameOccurrences) {
    std::mt19937 rng(91);
    for (int round = 0; round < 40; ++round) {
        const std::size_t m = 2 + rng() % (2 * kShortNeedleMax);
        Bytes needle(m);
        for (auto& b : needle) {
            b = static_cast<std::uint8_t>('a' + rng() % 2);
        }
        Bytes haystack(6000 + rng() % 6000, '.');
        for (std::size_t p = rng() % 50; p + m <= haystack.size();
             p += p < 3000 ? 1 + rng() % (2 * m) : 1500 + rng() % 3000) {
            plant(haystack, p, needle);
        }
        const std::size_t from = rng() % haystack.size();
        const ByteRange rest{haystack.data() + from, haystack.size() - from};
        const std::vector<std::uint64_t> want = plain_matches(
            Bytes(haystack.begin() + static_cast<std::ptrdiff_t>(from), haystack.end()), needle,
            false);
        MatchScan dense(rest, range_of(needle), false);
        dense.start_dense();
        std::vector<std::uint64_t> got(want.size() + 1);
        got.resize(dense.next_batch(got));
        ASSERT_EQ(got, want) << "round " << round << ", m " << m << ", from " << from;
        MatchScan counted(rest, range_of(needle), false);
        counted.start_dense();
        ASSERT_EQ(counted.count_rest(), want.size()) << "round " << round;
    }
}

TEST(MatchScan, ShortPeriods) {
    EXPECT_EQ(short_period(range_of(Bytes{'a', 'a', 'a', 'a'})), 1u);
    EXPECT_EQ(short_period(range_of(Bytes{'a', 'b', 'a', 'b', 'a'})), 2u);
    EXPECT_EQ(short_period(range_of(Bytes{'a', 'b', 'c', 'a', 'b'})), 0u);  // period 3 > 5 / 2
    EXPECT_EQ(short_period(range_of(Bytes{'a', 'a', 'b'})), 0u);
    EXPECT_EQ(short_period(range_of(Bytes{'a'})), 0u);
}

#if QARVO_SEARCH_PROBES
// An overlapping scan of a needle with a short period over text of that
// period matches at nearly every step; searching again after each match
// would compare m bytes per match, n * m in all. Chaining compares only the
// bytes each next window adds.
TEST(MatchScan, OverlappingScansOfPeriodicNeedlesStayLinear) {
    for (const Bytes& unit : {Bytes{'a'}, Bytes{'a', 'b'}, Bytes{'a', 'b', 'c', 'a', 'b', 'd'}}) {
        for (const std::size_t reps : {8u, 100u, 700u}) {
            Bytes needle;
            for (std::size_t r = 0; r < reps; ++r) {
                needle.insert(needle.end(), unit.begin(), unit.end());
            }
            Bytes haystack;
            while (haystack.size() < 200000) {
                haystack.insert(haystack.end(), unit.begin(), unit.end());
            }
            haystack[haystack.size() / 2] = 'z';  // one break in the chain
            detail::g_search_probe = {};
            MatchScan scan(range_of(haystack), range_of(needle), true);
            const std::size_t count = scan.count_rest();
            const std::size_t compared = detail::g_search_probe.compared;
            EXPECT_EQ(count, plain_matches(haystack, needle, true).size());
            EXPECT_GT(count, haystack.size() / unit.size() / 2);
            // A needle of up to kShortNeedleMax bytes is compared by vectors,
            // all of its bytes at each position that passes its anchors.
            const std::size_t per_byte = needle.size() <= kShortNeedleMax ? kShortNeedleMax : 8;
            EXPECT_LE(compared, per_byte * (haystack.size() + needle.size()))
                << "unit " << unit.size() << " reps " << reps << ": " << count << " matches";
        }
    }
}

// A short needle's starts compare at most m bytes per position, whatever
// the haystack: runs of the needle's one byte, overlapping and not.
TEST(MatchScan, ShortNeedlesCompareAtMostTheirLengthPerPosition) {
    const Bytes haystack(200000, 'a');
    for (const std::size_t m : {std::size_t{2}, std::size_t{4}, kShortNeedleMax}) {
        const Bytes needle(m, 'a');
        for (const bool overlapping : {false, true}) {
            detail::g_search_probe = {};
            MatchScan scan(range_of(haystack), range_of(needle), overlapping);
            const std::size_t count = scan.count_rest();
            EXPECT_EQ(count, overlapping ? haystack.size() - m + 1 : haystack.size() / m);
            EXPECT_TRUE(detail::g_search_probe.took(detail::SearchPath::kShortStarts));
            EXPECT_LE(detail::g_search_probe.compared, m * (haystack.size() + m))
                << "m " << m << ", overlapping " << overlapping;
        }
    }
}

// The path each kind of haystack takes: dense matches stay in chunks of
// starts; a match every few KiB sends the scan to find_n between them.
TEST(MatchScan, SparseMatchesAreSearchedWithFindN) {
    Bytes dense(100000, '.');
    Bytes sparse(100000, '.');
    const Bytes needle{'t', 'h', 'e'};
    for (std::size_t p = 0; p + 3 <= dense.size(); p += 7) {
        plant(dense, p, needle);
    }
    for (std::size_t p = 0; p + 3 <= sparse.size(); p += 20000) {
        plant(sparse, p, needle);
    }
    for (const Bytes* haystack : {&dense, &sparse}) {
        detail::g_search_probe = {};
        MatchScan scan(range_of(*haystack), range_of(needle), false);
        EXPECT_EQ(scan.count_rest(), plain_matches(*haystack, needle, false).size());
        EXPECT_TRUE(detail::g_search_probe.took(detail::SearchPath::kShortStarts));
        EXPECT_EQ(detail::g_search_probe.took(detail::SearchPath::kSparseStartsJumped),
                  haystack == &sparse);
    }
}

// A first match that leaves fewer than four gaps like its own before the end
// is followed by one more find_n, not by a scan of starts: one match near
// the end of 1 KiB, and the same with the last match some way before it.
TEST(MatchScan, AMatchNearTheEndLeavesTheRestToFindN) {
    const Bytes needle{'l', 'i', 'v', 'e', 'r', ' ', 'a', 'n', 'd'};
    for (const std::size_t at : {std::size_t{976}, std::size_t{700}, std::size_t{100}}) {
        Bytes haystack(1024, '.');
        plant(haystack, at, needle);
        plant(haystack, 1024 - needle.size(), needle);
        detail::g_search_probe = {};
        MatchScan scan(range_of(haystack), range_of(needle), false);
        EXPECT_EQ(scan.count_rest(), plain_matches(haystack, needle, false).size());
        // From 100, the 900-odd bytes left hold four gaps of 100: a scan of
        // starts is worth its plan.
        EXPECT_EQ(detail::g_search_probe.took(detail::SearchPath::kShortStarts), at == 100)
            << "first match at " << at;
    }
}

// Two adjacent matches move the scan by the needle's length each: 16 bytes
// left then hold at most four more, which find_n finds sooner than a scan
// of starts is planned; 200 bytes of the same spacing are worth the plan.
TEST(MatchScan, AdjacentMatchesCountTheStepTowardWhatIsLeft) {
    const Bytes needle{'a', 'b', 'c', 'd'};
    for (const std::size_t size : {std::size_t{32}, std::size_t{224}}) {
        Bytes haystack(size, '.');
        for (std::size_t p = 8; p + needle.size() <= size; p += needle.size()) {
            plant(haystack, p, needle);
            p += p == 12 ? 11 : 0;  // one gap after the first two
        }
        detail::g_search_probe = {};
        MatchScan scan(range_of(haystack), range_of(needle), false);
        EXPECT_EQ(scan.count_rest(), plain_matches(haystack, needle, false).size());
        EXPECT_EQ(detail::g_search_probe.took(detail::SearchPath::kShortStarts), size > 32)
            << size << " bytes";
    }
}
#endif

}  // namespace
}  // namespace qarvo
