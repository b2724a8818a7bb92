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
#include "probe.hpp"

namespace qarvo {
namespace {

using test::Bytes;

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
#endif

}  // namespace
}  // namespace qarvo
