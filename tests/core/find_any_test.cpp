// find_any, rfind_any, find_not_any and rfind_not_any on every variant against
// a plain scan: every range length up to 300 and the block boundaries of the
// widest variant, every set size from 0 to 256, and the sets on which a
// nibble table lookup goes wrong (members sharing a low or a high nibble,
// bytes that differ only in bit 7, 0x00, 0x80, 0xFF). Ranges sit right before
// and right after an inaccessible page, so a read past either end faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "variants.hpp"

namespace qarvo::test {
namespace {

// The plain scans: the first (last) offset whose byte's membership is `in`.
SearchResult naive_first(std::span<const std::uint8_t> h, const ByteSet& set, bool in) {
    for (std::size_t i = 0; i < h.size(); ++i) {
        if (set.contains(h[i]) == in) {
            return SearchResult::at(i);
        }
    }
    return SearchResult::not_found();
}

SearchResult naive_last(std::span<const std::uint8_t> h, const ByteSet& set, bool in) {
    for (std::size_t i = h.size(); i > 0; --i) {
        if (set.contains(h[i - 1]) == in) {
            return SearchResult::at(i - 1);
        }
    }
    return SearchResult::not_found();
}

ByteSet set_of(std::initializer_list<unsigned> bytes) {
    ByteSet set;
    for (const unsigned b : bytes) {
        set.add(static_cast<std::uint8_t>(b));
    }
    return set;
}

std::vector<std::uint8_t> members_of(const ByteSet& set, bool in) {
    std::vector<std::uint8_t> out;
    for (unsigned b = 0; b < 256; ++b) {
        if (set.contains(static_cast<std::uint8_t>(b)) == in) {
            out.push_back(static_cast<std::uint8_t>(b));
        }
    }
    return out;
}

std::string describe(const ByteSet& set) {
    std::ostringstream out;
    out << "set of " << set.size() << " {";
    const std::vector<std::uint8_t> members = members_of(set, true);
    for (std::size_t k = 0; k < members.size() && k < 8; ++k) {
        out << (k == 0 ? "" : ", ") << int{members[k]};
    }
    out << (members.size() > 8 ? ", ...}" : "}");
    return out.str();
}

// A random set of `size` members below `limit`.
ByteSet random_set(std::mt19937_64& rng, std::size_t size, std::size_t limit = 256) {
    std::vector<std::uint8_t> all(limit);
    std::iota(all.begin(), all.end(), std::uint8_t{0});
    std::shuffle(all.begin(), all.end(), rng);
    ByteSet set;
    for (std::size_t k = 0; k < size; ++k) {
        set.add(all[k]);
    }
    return set;
}

// The sets of the structured cases: sizes of each kind of test (compares,
// complemented compares, table), members sharing a nibble, bit 7 apart, and
// the extreme byte values.
std::vector<ByteSet> structured_sets() {
    std::vector<ByteSet> sets = {
        set_of({0x00}),
        set_of({0xFF}),
        set_of({0x80}),
        set_of({0x00, 0x80}),
        set_of({0x00, 0x80, 0xFF}),
        set_of({0x7F, 0x80}),
        set_of({' ', '\t', '\n', '\r'}),
        set_of({'<', '>', '&', '"', '\''}),
        set_of({',', '\n', '"'}),
        set_of({0x05, 0x85, 0x15}),
        set_of({0x05, 0x15, 0x25, 0x35}),
        set_of({0x00, 0x80, 0xFF, 0x7F, 0x01}),
        // Windows of 64 values (a bit lookup where the CPU has one): at the
        // start, at each end of the byte range, across a 64-byte boundary;
        // one from 0xF0, whose offsets wrap for the bytes below 0x30; and
        // spans of 65, one too many.
        set_of({0x00, 0x20, 0x3F}),
        set_of({0x40, 0x55, 0x7F}),
        set_of({0xC0, 0xD1, 0xFF}),
        set_of({0x30, 0x41, 0x6F}),
        set_of({0xF0, 0xF7, 0xFF}),
        set_of({'a', 'e', 'i', 'o', 'u'}),
        set_of({0x00, 0x20, 0x40}),
        set_of({0x30, 0x41, 0x70}),
    };
    // Every byte with low nibble L; with high nibble H; the first half of
    // those (H below 8, or L below 8).
    for (const unsigned nibble : {0u, 7u, 8u, 15u}) {
        ByteSet low;
        ByteSet high;
        ByteSet low_half;
        ByteSet high_half;
        for (unsigned other = 0; other < 16; ++other) {
            low.add(static_cast<std::uint8_t>(other << 4 | nibble));
            high.add(static_cast<std::uint8_t>(nibble << 4 | other));
            if (other < 8) {
                low_half.add(static_cast<std::uint8_t>(other << 4 | nibble));
                high_half.add(static_cast<std::uint8_t>(nibble << 4 | other));
            }
        }
        sets.insert(sets.end(), {low, high, low_half, high_half});
    }
    // The bytes below 0x80, and those from it.
    ByteSet ascii;
    for (unsigned b = 0; b < 128; ++b) {
        ascii.add(static_cast<std::uint8_t>(b));
    }
    sets.push_back(ascii);
    // Every set so far also complemented (253 to 255 members from 1 to 3).
    const std::size_t count = sets.size();
    for (std::size_t k = 0; k < count; ++k) {
        sets.push_back(sets[k].complement());
    }
    sets.push_back(ByteSet());
    sets.push_back(ByteSet::all());
    return sets;
}

// Every position of a range of n bytes when n is at most 130 (the blocks of
// four 32-byte vectors, and the single and overlapping ones after them);
// beyond, the 70 at each end and every 7th between.
std::vector<std::size_t> dense_positions(std::size_t n) {
    std::vector<std::size_t> out;
    for (std::size_t p = 0; p < n; p = n <= 130 || p < 70 || p + 70 >= n ? p + 1 : p + 7) {
        out.push_back(p);
    }
    return out;
}

// The ends, the next positions in and two in the middle.
std::vector<std::size_t> sparse_positions(std::size_t n) {
    std::vector<std::size_t> out;
    for (const std::size_t p : {std::size_t{0}, std::size_t{1}, n / 3, n / 2, n - 2, n - 1}) {
        if (p < n && std::find(out.begin(), out.end(), p) == out.end()) {
            out.push_back(p);
        }
    }
    return out;
}

class FindAny : public EveryBackend {
protected:
    // All four routines on `h` against the plain scans; false (with the
    // failure reported) on the first that differs.
    // The variant's table and, where the CPU runs one, the table with its
    // byte-set extension (set_extensions.cpp), which the dispatcher takes.
    bool all_four_match(std::span<const std::uint8_t> h, const ByteSet& set,
                        const std::string& what) const {
        if (!all_four_match_in(routines(), h, set, what)) {
            return false;
        }
        const SearchRoutines* extended = detail::routines_with_set_extension(GetParam());
        return extended == nullptr || all_four_match_in(*extended, h, set, what + ", extended");
    }

    bool all_four_match_in(const SearchRoutines& r, std::span<const std::uint8_t> h,
                           const ByteSet& set, const std::string& what) const {
        const ByteRange range = range_of(h);
        const struct {
            const char* name;
            SearchResult got;
            SearchResult expected;
        } results[] = {
            {"find_any", r.find_any(range, set), naive_first(h, set, true)},
            {"rfind_any", r.rfind_any(range, set), naive_last(h, set, true)},
            {"find_not_any", r.find_not_any(range, set), naive_first(h, set, false)},
            {"rfind_not_any", r.rfind_not_any(range, set), naive_last(h, set, false)},
        };
        for (const auto& result : results) {
            if (result.got != result.expected) {
                ADD_FAILURE() << result.name << ": got " << ::testing::PrintToString(result.got)
                              << ", expected " << ::testing::PrintToString(result.expected) << "; "
                              << describe(set) << ", length " << h.size() << ", " << what;
                return false;
            }
        }
        return true;
    }

    // For one set and a range: random non-members, then one random member
    // planted at each of `where`, and a second one 1 to 70 bytes after it
    // where that fits (the first and the last member differ then); the same
    // with members and non-members swapped.
    bool planted_at(const ByteSet& set, std::span<std::uint8_t> h,
                    const std::vector<std::size_t>& where, std::mt19937_64& rng) const {
        const std::size_t n = h.size();
        for (const bool in : {true, false}) {
            const std::vector<std::uint8_t> fill = members_of(set, !in);
            const std::vector<std::uint8_t> planted = members_of(set, in);
            if (fill.empty()) {
                continue;
            }
            auto pick = [&rng](const std::vector<std::uint8_t>& from) {
                return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
            };
            for (std::uint8_t& b : h) {
                b = pick(fill);
            }
            if (!all_four_match(h, set, "nothing planted")) {
                return false;
            }
            if (planted.empty()) {
                continue;
            }
            for (const std::size_t p : where) {
                const std::size_t q = p + 1 + p % 70;
                const std::uint8_t saved = h[p];
                h[p] = pick(planted);
                std::uint8_t saved_q = 0;
                if (q < n) {
                    saved_q = h[q];
                    h[q] = pick(planted);
                }
                if (!all_four_match(h, set,
                                    "planted at " + std::to_string(p) +
                                        (q < n ? " and " + std::to_string(q) : ""))) {
                    return false;
                }
                if (q < n) {
                    h[q] = saved_q;
                }
                h[p] = saved;
            }
        }
        return true;
    }
};

TEST_P(FindAny, EveryPositionOfEveryLength) {
    // Lengths up to 300 pass every block of the 16- and 32-byte variants
    // and the short path and first blocks of the 64-byte one. A set tested
    // by table (whose complement is too), and one by compares (whose
    // complement is tested by complemented compares).
    std::mt19937_64 rng(1);
    Bytes storage(300);
    for (const ByteSet& set : {set_of({' ', '\t', '\n', '\r'}), set_of({'x', 0x80, 0x00})}) {
        for (std::size_t n = 0; n <= 300; ++n) {
            ASSERT_TRUE(planted_at(set, std::span(storage).first(n), dense_positions(n), rng));
        }
    }
}

TEST_P(FindAny, StructuredSetsAtEveryLength) {
    std::mt19937_64 rng(2);
    Bytes storage(300);
    for (const ByteSet& set : structured_sets()) {
        for (std::size_t n = 0; n <= 300; n += n < 70 ? 1 : 13) {
            ASSERT_TRUE(planted_at(set, std::span(storage).first(n), sparse_positions(n), rng));
        }
    }
}

TEST_P(FindAny, EverySetSizeAtTheBlockBoundaries) {
    // Random sets of every size from 0 to 256, at the lengths around each
    // block boundary of every width; random ranges of any bytes too.
    std::mt19937_64 rng(3);
    const std::size_t lengths[] = {0,  1,  3,   8,   15,  16,  17,  31,  32,  33,  63,  64,
                                   65, 96, 127, 128, 129, 160, 255, 256, 257, 383, 384, 511};
    Bytes storage(511);
    for (std::size_t size = 0; size <= 256; ++size) {
        // Over all bytes, and over those below 0x80 only (on x86 these and
        // their complements take a cheaper lookup).
        const ByteSet low = random_set(rng, size % 129, 128);
        for (const ByteSet& set : {random_set(rng, size), size < 129 ? low : low.complement()}) {
            for (const std::size_t n : lengths) {
                const std::span<std::uint8_t> h = std::span(storage).first(n);
                for (std::uint8_t& b : h) {
                    b = static_cast<std::uint8_t>(rng());
                }
                ASSERT_TRUE(all_four_match(h, set, "random bytes"));
                ASSERT_TRUE(planted_at(set, h, sparse_positions(n), rng));
            }
        }
    }
}

TEST_P(FindAny, TheWidestBlocksAtStartAddressesModulo64) {
    // The wide variants move their loads onto aligned addresses in long
    // ranges, from an offset that the start address sets; AVX-512's blocks
    // of four vectors span 256 bytes. One set of each kind of test.
    std::mt19937_64 rng(4);
    const ByteSet sets[] = {set_of({'x'}), set_of({' ', '\t', '\n', '\r'}),
                            set_of({'x', 0x80}).complement()};
    constexpr std::size_t kWidest = 64;
    Bytes storage(1100 + kWidest);
    for (const ByteSet& set : sets) {
        for (const std::size_t n : {std::size_t{600}, std::size_t{1100}}) {
            for (std::size_t start = 0; start < kWidest; start += 5) {
                ASSERT_TRUE(
                    planted_at(set, std::span(storage).subspan(start, n), dense_positions(n), rng))
                    << "start " << start;
            }
        }
    }
}

TEST_P(FindAny, BothEndsOfTheRangeBesideAGuardPage) {
    // Every length up to 300 (and a few of the widest blocks), each range
    // ending at an inaccessible page and starting right after one. A lane
    // a masked load leaves out must not count: 0x00 is a member of some
    // sets, and the complemented tests set those lanes.
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    std::vector<ByteSet> sets = {set_of({0x00}), set_of({'x', 0x00}), set_of({'x', 0x00, 0x80}),
                                 set_of({0x00, 0x01, 0x02, 0x03}), set_of({'x'})};
    const std::size_t count = sets.size();
    for (std::size_t k = 0; k < count; ++k) {
        sets.push_back(sets[k].complement());
    }
    std::vector<std::size_t> lengths(301);
    std::iota(lengths.begin(), lengths.end(), std::size_t{0});
    lengths.insert(lengths.end(), {511, 512, 513, 1024, 1100});
    for (const ByteSet& set : sets) {
        const std::vector<std::uint8_t> in = members_of(set, true);
        const std::vector<std::uint8_t> out = members_of(set, false);
        for (const std::size_t n : lengths) {
            // Non-members only; a member at the start; at the end; and the
            // same with members and non-members swapped.
            for (const bool swap : {false, true}) {
                const std::uint8_t fill = swap ? in.front() : out.front();
                const std::uint8_t odd = swap ? out.back() : in.back();
                Bytes none(n, fill);
                Bytes first = none;
                Bytes last = none;
                if (n > 0) {
                    first.front() = odd;
                    last.back() = odd;
                }
                for (const Bytes* contents : {&none, &first, &last}) {
                    for (const bool at_end : {true, false}) {
                        const auto h = at_end ? page.at_end(*contents) : page.at_start(*contents);
                        ASSERT_TRUE(all_four_match(
                            h, set, at_end ? "before the guard page" : "after the guard page"));
                    }
                }
            }
        }
    }
}

TEST_P(FindAny, EmptyRangeIsNotFoundEvenWithoutData) {
    const SearchRoutines& r = routines();
    for (const ByteSet& set :
         {ByteSet(), set_of({'a'}), set_of({'a', 'b', 'c', 'd'}), ByteSet::all()}) {
        EXPECT_EQ(r.find_any(ByteRange{nullptr, 0}, set), SearchResult::not_found());
        EXPECT_EQ(r.rfind_any(ByteRange{nullptr, 0}, set), SearchResult::not_found());
        EXPECT_EQ(r.find_not_any(ByteRange{nullptr, 0}, set), SearchResult::not_found());
        EXPECT_EQ(r.rfind_not_any(ByteRange{nullptr, 0}, set), SearchResult::not_found());
    }
}

QARVO_FOR_EVERY_BACKEND(FindAny);

TEST(SetExtension, IsTheVariantsTableButTheFourByteSetSearches) {
    // Compared as bytes with the variant's table after taking the four
    // entries from it (both are static, so their padding is zero). Where the
    // CPU has the features, the AVX-512BW variant of an x86-64 build has one.
    bool any = false;
    for (const Backend backend : supported_backends()) {
        const SearchRoutines* extended = detail::routines_with_set_extension(backend);
        if (extended == nullptr) {
            continue;
        }
        any = true;
        const SearchRoutines* own = routines_for(backend);
        ASSERT_NE(own, nullptr);
        EXPECT_NE(extended, own);
        EXPECT_NE(extended->find_any, own->find_any);
        EXPECT_NE(extended->rfind_any, own->rfind_any);
        EXPECT_NE(extended->find_not_any, own->find_not_any);
        EXPECT_NE(extended->rfind_not_any, own->rfind_not_any);
        SearchRoutines expected;
        std::memcpy(&expected, own, sizeof expected);
        expected.find_any = extended->find_any;
        expected.rfind_any = extended->rfind_any;
        expected.find_not_any = extended->find_not_any;
        expected.rfind_not_any = extended->rfind_not_any;
        EXPECT_EQ(std::memcmp(&expected, extended, sizeof expected), 0) << backend_name(backend);
        EXPECT_EQ(detail::routines_with_set_extension(backend), extended) << "built once";
    }
#if defined(__x86_64__) && QARVO_HAVE_AVX512BW_BITALG_SETS
    __builtin_cpu_init();
    const bool expected =
        routines_for(Backend::avx512bw) != nullptr && __builtin_cpu_supports("avx512bitalg");
    EXPECT_EQ(any, expected);
#else
    EXPECT_FALSE(any);
#endif
}

// The set itself: membership, size, complement, and the by-nibble copy that
// the table lookups read agreeing with the map.
TEST(ByteSet, MembershipSizeAndNibbleRowsAgree) {
    static_assert(ByteSet().size() == 0);
    static_assert(ByteSet::all().size() == 256);
    constexpr std::uint8_t kBytes[] = {'a', 'b', 'a', 0x00, 0xFF};
    constexpr ByteSet kSet = ByteSet::of(ByteRange{kBytes, sizeof kBytes});
    static_assert(kSet.size() == 4 && kSet.contains('a') && kSet.contains(0xFF) &&
                  !kSet.contains('c'));
    std::mt19937_64 rng(5);
    for (std::size_t size = 0; size <= 256; ++size) {
        const ByteSet set = random_set(rng, size);
        ASSERT_EQ(set.size(), size);
        const ByteSet complement = set.complement();
        ASSERT_EQ(complement.size(), 256 - size);
        ASSERT_EQ(complement.complement(), set);
        for (unsigned b = 0; b < 256; ++b) {
            const auto byte = static_cast<std::uint8_t>(b);
            const bool in_row =
                ((set.by_low_nibble(16 * (b >> 7) + (b & 15)) >> ((b >> 4) & 7)) & 1) != 0;
            ASSERT_EQ(in_row, set.contains(byte)) << "byte " << b << ", " << describe(set);
            ASSERT_EQ(complement.contains(byte), !set.contains(byte)) << "byte " << b;
            ASSERT_EQ(((set.word(b / 64) >> (b % 64)) & 1) != 0, set.contains(byte));
        }
    }
}

// of() takes two paths, byte by byte for short lists and the gathered map
// for longer ones: both equal to adding the bytes one at a time, nibble rows
// included, for every length across the switch, repeats, and lists that
// fill one word of the map, one row of the nibble table, or all of it.
TEST(ByteSet, OfEqualsAddingEachByte) {
    const auto by_adding = [](const std::vector<std::uint8_t>& bytes) {
        ByteSet set;
        for (const std::uint8_t b : bytes) {
            set.add(b);
        }
        return set;
    };
    std::vector<std::vector<std::uint8_t>> lists;
    std::mt19937_64 rng(23);
    for (std::size_t n = 0; n <= 300; ++n) {
        std::vector<std::uint8_t> bytes(n);
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(rng() % (n % 3 == 0 ? 256 : 20 + n % 50));
        }
        lists.push_back(bytes);
    }
    for (unsigned first : {0u, 64u, 128u, 192u}) {
        std::vector<std::uint8_t> word(64);
        std::iota(word.begin(), word.end(), static_cast<std::uint8_t>(first));
        lists.push_back(word);
    }
    for (unsigned low = 0; low < 16; ++low) {
        std::vector<std::uint8_t> row;
        for (unsigned high = 0; high < 16; ++high) {
            row.push_back(static_cast<std::uint8_t>(16 * high + low));
        }
        lists.push_back(row);
    }
    for (const auto& bytes : lists) {
        const ByteSet expected = by_adding(bytes);
        const ByteSet got = ByteSet::of(ByteRange{bytes.data(), bytes.size()});
        ASSERT_EQ(got, expected) << bytes.size() << " bytes, " << describe(expected);
    }
}

}  // namespace
}  // namespace qarvo::test
