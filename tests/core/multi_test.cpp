// MultiScan against a plain model of re's alternation (each offset tried in
// turn, each needle in its order), on every variant's byte-set search (the
// prefilter): random sets with shared prefixes, needles that are prefixes
// of one another, duplicates and empty needles; matches planted around
// every block boundary; ignore_case; sets large enough to leave deep states
// sparse; sets of up to 64 needles sharing the bucket filter's buckets,
// larger ones behind the start filter, and which path (a filter or the
// automaton) a scan takes; guard pages on both sides;
// and the linear bound of sets built to defeat the prefilters, counted by
// the test build's probe.
#include "qarvo/multi.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "probe.hpp"

namespace qarvo::test {
namespace {

using Match = std::pair<std::uint64_t, std::uint32_t>;
using Needles = std::vector<Bytes>;

std::uint8_t lower(std::uint8_t b) {
    return b >= 'A' && b <= 'Z' ? static_cast<std::uint8_t>(b + 32) : b;
}

bool occurs_at(const Bytes& haystack, std::size_t p, const Bytes& needle, bool ignore_case) {
    if (needle.size() > haystack.size() - p) {
        return false;
    }
    for (std::size_t k = 0; k < needle.size(); ++k) {
        const std::uint8_t h = ignore_case ? lower(haystack[p + k]) : haystack[p + k];
        const std::uint8_t b = ignore_case ? lower(needle[k]) : needle[k];
        if (h != b) {
            return false;
        }
    }
    return true;
}

// re.finditer over the escaped alternation: at each offset the first needle
// listed that occurs there; after an empty match the same offset again,
// wanting a non-empty match.
std::vector<Match> plain_matches(const Bytes& haystack, const Needles& needles, bool ignore_case) {
    std::vector<Match> out;
    std::size_t p = 0;
    bool must_advance = false;
    while (p <= haystack.size()) {
        bool matched = false;
        for (std::size_t i = 0; i < needles.size(); ++i) {
            if (must_advance && needles[i].empty()) {
                continue;
            }
            if (occurs_at(haystack, p, needles[i], ignore_case)) {
                out.emplace_back(p, static_cast<std::uint32_t>(i));
                must_advance = needles[i].empty();
                p += needles[i].size();
                matched = true;
                break;
            }
        }
        if (!matched) {
            must_advance = false;
            ++p;
        }
    }
    return out;
}

// A built automaton in memory of its own.
class Built {
public:
    Built(const Needles& needles, bool ignore_case) {
        for (const Bytes& needle : needles) {
            ranges_.push_back(range_of(needle));
        }
        const std::size_t size = multi_bytes_needed(ranges_);
        EXPECT_GT(size, 0u);
        memory_ = std::make_unique<std::max_align_t[]>(size / sizeof(std::max_align_t) + 1);
        automaton_ = multi_build(memory_.get(), size, ranges_, ignore_case);
        EXPECT_NE(automaton_, nullptr);
    }
    const MultiAutomaton& automaton() const { return *automaton_; }

private:
    std::vector<ByteRange> ranges_;
    std::unique_ptr<std::max_align_t[]> memory_;
    const MultiAutomaton* automaton_ = nullptr;
};

class Multi : public EveryBackend {
protected:
    // A scan with this variant's byte-set search and bucket filter.
    MultiScan scan_of(const Built& built, ByteRange haystack) const {
        return MultiScan(built.automaton(), haystack, routines().find_any,
                         routines().find_bucket_hits, routines().find_stride_hits,
                         routines().find_n, routines().find_folded);
    }

    std::vector<Match> scanned(const Built& built, ByteRange haystack, std::size_t batch) const {
        MultiScan scan = scan_of(built, haystack);
        std::vector<Match> out;
        std::vector<std::uint64_t> offsets(batch);
        std::vector<std::uint32_t> indices(batch);
        for (;;) {
            const std::size_t got = scan.next_batch(offsets, indices);
            for (std::size_t k = 0; k < got; ++k) {
                out.emplace_back(offsets[k], indices[k]);
            }
            if (got < batch) {
                EXPECT_TRUE(scan.done());
                return out;
            }
        }
    }

    void expect_matches(const Bytes& haystack, const Needles& needles, bool ignore_case,
                        const std::string& what) const {
        const Built built(needles, ignore_case);
        const std::vector<Match> expected = plain_matches(haystack, needles, ignore_case);
        for (const std::size_t batch : {1u, 3u, 256u}) {
            ASSERT_EQ(scanned(built, range_of(haystack), batch), expected)
                << what << ", batch " << batch;
        }
        MultiScan counter = scan_of(built, range_of(haystack));
        ASSERT_EQ(counter.count_rest(), expected.size()) << what;
    }
};

Bytes random_bytes(std::mt19937& rng, std::size_t n, const std::string& alphabet) {
    Bytes out(n);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(alphabet[pick(rng)]);
    }
    return out;
}

Bytes bytes_of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST_P(Multi, HandPickedSets) {
    const Bytes h = bytes_of("abcabdabcabxxabcd ab abc");
    expect_matches(h, {bytes_of("abc"), bytes_of("ab")}, false, "longer first");
    expect_matches(h, {bytes_of("ab"), bytes_of("abc")}, false, "prefix first shadows");
    expect_matches(h, {bytes_of("bca"), bytes_of("abcab")}, false, "later start loses");
    expect_matches(h, {bytes_of("abd"), bytes_of("abd"), bytes_of("d")}, false, "duplicates");
    expect_matches(h, {bytes_of("x"), bytes_of(""), bytes_of("ab")}, false, "empty in between");
    expect_matches(h, {bytes_of("")}, false, "empty alone");
    expect_matches(h, {bytes_of(""), bytes_of("abc")}, false, "empty first");
    expect_matches(h, {bytes_of("ABC"), bytes_of("Xa")}, true, "ignore_case");
    expect_matches(h, {bytes_of("zzz")}, false, "absent");
    expect_matches(Bytes{}, {bytes_of("a"), bytes_of("")}, false, "empty haystack");
    expect_matches(bytes_of("xaaaaaaaaaaaZ"), {bytes_of("xaaaaaaaaaY"), bytes_of("a")}, false,
                   "an output by failure link, the longer needle failing");
}

TEST_P(Multi, RandomSetsAgainstThePlainModel) {
    std::mt19937 rng(7);
    const std::string alphabets[] = {"ab", "abc", "aAbB", "abcdefgh"};
    for (int round = 0; round < 400; ++round) {
        const std::string& alphabet = alphabets[round % 4];
        Needles needles;
        const std::size_t count = 1 + rng() % 9;
        for (std::size_t k = 0; k < count; ++k) {
            needles.push_back(random_bytes(rng, rng() % 6 == 0 ? 0 : 1 + rng() % 5, alphabet));
        }
        const Bytes haystack = random_bytes(rng, rng() % 300, alphabet);
        const bool ignore_case = round % 3 == 0;
        expect_matches(haystack, needles, ignore_case, "round " + std::to_string(round));
    }
}

TEST_P(Multi, SetsSharingBucketsAgainstThePlainModel) {
    // 9 to 64 needles: several per bucket, some with a common start, some
    // shorter than the filter's four bytes.
    std::mt19937 rng(13);
    const std::string alphabets[] = {"abcdefghijklmnop", "aAbBcC@`[{", "abc \xe9\xc3"};
    for (int round = 0; round < 120; ++round) {
        const std::string& alphabet = alphabets[round % 3];
        Needles needles;
        const std::size_t count = 9 + rng() % 56;
        for (std::size_t k = 0; k < count; ++k) {
            needles.push_back(random_bytes(rng, 1 + rng() % (round % 4 == 0 ? 3 : 8), alphabet));
        }
        const Bytes haystack = random_bytes(rng, rng() % 700, alphabet);
        const bool ignore_case = round % 3 == 1;
        expect_matches(haystack, needles, ignore_case, "round " + std::to_string(round));
    }
}

TEST_P(Multi, NeedlesShorterThanTheFilterKeepItsWidthAndMatchUpToTheEnd) {
    // One or two short needles among long ones: the filter keeps four
    // bytes, the short ones get buckets of their own, and where no four
    // bytes are left (the last three offsets) they are compared apart.
    std::mt19937 rng(23);
    const std::string alphabet = "abcdefgh \n";
    for (int round = 0; round < 90; ++round) {
        Needles needles;
        const std::size_t count = 9 + rng() % 50;
        for (std::size_t k = 0; k < count; ++k) {
            needles.push_back(random_bytes(rng, 4 + rng() % 8, alphabet));
        }
        const auto shorts = static_cast<std::size_t>(1 + round % 3);
        for (std::size_t k = 0; k < shorts; ++k) {
            const std::size_t at = rng() % (needles.size() + 1);
            needles.insert(needles.begin() + static_cast<std::ptrdiff_t>(at),
                           random_bytes(rng, 1 + rng() % 3, alphabet));
        }
        const bool ignore_case = round % 4 == 3;
        const Built built(needles, ignore_case);
        ASSERT_EQ(built.automaton().buckets.width, 4u) << "round " << round;
        ASSERT_NE(built.automaton().short_buckets, 0u) << "round " << round;
        Bytes haystack = random_bytes(rng, rng() % 120, alphabet);
        // A short needle ending the haystack, at any of the last offsets.
        for (const Bytes& needle : needles) {
            if (needle.size() < 4 && rng() % 2 == 0) {
                haystack.insert(haystack.end(), needle.begin(), needle.end());
                break;
            }
        }
        for (std::size_t cut = 0; cut < 4 && cut <= haystack.size(); ++cut) {
            const Bytes prefix(haystack.begin(), haystack.end() - static_cast<std::ptrdiff_t>(cut));
            expect_matches(prefix, needles, ignore_case,
                           "round " + std::to_string(round) + ", cut " + std::to_string(cut));
            ASSERT_FALSE(HasFatalFailure());
        }
    }
}

TEST_P(Multi, LargerSetsWithAStartFilterAgainstThePlainModel) {
    // 65 needles and more, of two bytes or more: the start filter on two
    // bytes or on a hash of four, every other or every third offset tested
    // first (as the shortest needle allows) by pairs (needles of three bytes
    // and more) or by a hash of three (four bytes and more, in sets too
    // large for pairs); each candidate checked in the trie.
    std::mt19937 rng(19);
    const std::string alphabets[] = {"abcdefghijklmnopqrstuvwxyz0123456789", "aAbBcCdDeE@`[{xyz"};
    struct Shape {
        std::size_t shortest, fewest, most;
        std::uint32_t start_width, stride_width, stride_step;
    };
    const Shape shapes[] = {{2, 65, 300, 2, 0, 2},   {3, 65, 300, 2, 2, 2},
                            {4, 65, 300, 4, 2, 3},   {4, 600, 1500, 4, 3, 2},
                            {5, 600, 1500, 4, 3, 3}, {5, 65, 300, 4, 2, 3}};
    for (int round = 0; round < 72; ++round) {
        const Shape& shape = shapes[round % 6];
        const std::string& alphabet = alphabets[round / 6 % 2];
        const bool ignore_case = round / 12 % 2 == 1;
        Needles needles;
        const std::size_t count = shape.fewest + rng() % (shape.most - shape.fewest + 1);
        for (std::size_t k = 0; k < count; ++k) {
            needles.push_back(random_bytes(rng, shape.shortest + rng() % 5, alphabet));
        }
        const Built built(needles, ignore_case);
        ASSERT_EQ(built.automaton().start_width, shape.start_width) << "round " << round;
        ASSERT_EQ(built.automaton().stride.width, shape.stride_width) << "round " << round;
        if (shape.stride_width != 0) {
            ASSERT_EQ(built.automaton().stride.step, shape.stride_step) << "round " << round;
        }
        Bytes haystack = random_bytes(rng, rng() % 2000, alphabet);
        for (std::size_t at = rng() % 5; at + 8 < haystack.size(); at += 29 + rng() % 20) {
            const Bytes& planted = needles[rng() % needles.size()];
            std::copy(planted.begin(), planted.end(),
                      haystack.begin() + static_cast<std::ptrdiff_t>(at));
        }
        expect_matches(haystack, needles, ignore_case, "round " + std::to_string(round));
    }
}

TEST_P(Multi, TheBucketFilterServesRareNeedlesAndHandsThickCandidatesOver) {
    std::mt19937 rng(17);
    Bytes text = random_bytes(rng, 50000, "abcdefghijklmnopqrstuvwxyz ");
    const Needles rare = {bytes_of("QUIT"), bytes_of("Z9Z"), bytes_of("!!")};
    std::copy_n(rare[1].begin(), 3, text.begin() + 40000);
    {
        const Built built(rare, false);
        ASSERT_TRUE(built.automaton().has_buckets);
        MultiScan scan = scan_of(built, range_of(text));
        ASSERT_EQ(scan.count_rest(), 1u);
        ASSERT_TRUE(scan.buckets_on());
    }
    {
        // Needles of a two-letter alphabet over a text of the same two
        // letters: every bucket's tables pass both letters at every
        // position, so every offset is a candidate.
        Bytes runs = random_bytes(rng, 50000, "ab");
        std::copy_n(rare[1].begin(), 3, runs.begin() + 40000);
        Needles thick;
        for (int k = 0; k < 24; ++k) {
            thick.push_back(random_bytes(rng, 16, "ab"));
        }
        thick.push_back(bytes_of("Z9Z"));
        const Built built(thick, false);
        MultiScan scan = scan_of(built, range_of(runs));
        const std::size_t expected = plain_matches(runs, thick, false).size();
        ASSERT_GE(expected, 1u);
        ASSERT_EQ(scan.count_rest(), expected);
        ASSERT_FALSE(scan.buckets_on());
    }
    {
        // More needles than buckets take the start filter instead.
        Needles many;
        for (int k = 0; k < 100; ++k) {
            many.push_back(bytes_of("N" + std::to_string(k) + "#"));
        }
        const Built built(many, false);
        ASSERT_FALSE(built.automaton().has_buckets);
        MultiScan scan = scan_of(built, range_of(text));
        ASSERT_EQ(scan.count_rest(), 0u);
        ASSERT_TRUE(scan.start_keys_on());
    }
    {
        // ... which hands over to the automaton where every offset is a
        // candidate that the trie follows far.
        Needles thick;
        for (int k = 0; k < 100; ++k) {
            thick.push_back(bytes_of(std::string(30, 'a') + std::to_string(k)));
        }
        Bytes runs(50000, 'a');
        const Built built(thick, false);
        MultiScan scan = scan_of(built, range_of(runs));
        ASSERT_EQ(scan.count_rest(), 0u);
        ASSERT_FALSE(scan.start_keys_on());
    }
    {
        // A set whose starts cover most pairs of bytes keeps no filter.
        Needles dense;
        for (int k = 0; k < 20000; ++k) {
            dense.push_back({static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8)});
        }
        ASSERT_EQ(Built(dense, false).automaton().start_width, 0u);
    }
}

TEST_P(Multi, ThreeNeedlesOrFewerAreSearchedOneAtATime) {
    // Up to kNeedleScans needles that can win (a needle with an earlier one
    // as its prefix never does, nor does an empty one) take one search per
    // needle; one more takes the bucket filter. Overlapping, nested and
    // repeated needles over runs, where each needle's next start is passed
    // by the others' matches again and again.
    const Needles three = {bytes_of("aab"), bytes_of("ab"),  bytes_of("a"),
                           bytes_of("ab"),  bytes_of("abc"), bytes_of("")};
    const Needles four = {bytes_of("aab"), bytes_of("ab"), bytes_of("ba"), bytes_of("b")};
    std::mt19937 rng(0x6f6e65);
    for (const bool ignore_case : {false, true}) {
        const Built built_three(three, ignore_case);
        const Built built_four(four, ignore_case);
        const Bytes probe_haystack = bytes_of("aab");
        EXPECT_TRUE(scan_of(built_three, range_of(probe_haystack)).needles_on());
        EXPECT_FALSE(scan_of(built_four, range_of(probe_haystack)).needles_on());
        for (int round = 0; round < 60; ++round) {
            const Bytes haystack = random_bytes(rng, rng() % 400, round % 2 ? "ab" : "aAbBc");
            expect_matches(haystack, three, ignore_case, "three, round " + std::to_string(round));
            expect_matches(haystack, four, ignore_case, "four, round " + std::to_string(round));
            ASSERT_FALSE(HasFatalFailure());
        }
    }
}

// Needles over letters that never form them, planted in turn at `at`: the
// haystack, and its matches, exactly the planted ones.
std::pair<Bytes, std::vector<Match>> planted_among_letters(const Needles& needles, std::size_t size,
                                                           const std::vector<std::size_t>& at,
                                                           std::mt19937& rng) {
    Bytes haystack = random_bytes(rng, size, "abcdefghijklmnop");
    std::vector<Match> planted;
    for (std::size_t k = 0; k < at.size(); ++k) {
        const Bytes& needle = needles[k % needles.size()];
        std::copy(needle.begin(), needle.end(),
                  haystack.begin() + static_cast<std::ptrdiff_t>(at[k]));
        planted.emplace_back(at[k], static_cast<std::uint32_t>(k % needles.size()));
    }
    return {std::move(haystack), std::move(planted)};
}

TEST_P(Multi, DenseScansOfFewNeedlesInALongHaystackTakeTheBucketFilter) {
    // Two needles planted alternately every `gap` bytes: dense matches in a
    // long haystack hand the scan from one search per needle to the bucket
    // filter after a few searches; sparse ones, or a shorter haystack, keep
    // the searches.
    const Needles needles = {bytes_of("Qz7#"), bytes_of("k%Vb")};
    const Built built(needles, false);
    std::mt19937 rng(0x64656e);
    struct Case {
        std::size_t size;
        std::size_t gap;
        bool needles_at_end;
    };
    for (const Case c :
         {Case{MultiScan::kDenseFrom, 4096, false}, Case{MultiScan::kDenseFrom, 64 * 1024, true},
          Case{MultiScan::kDenseFrom - 1, 4096, true}}) {
        std::vector<std::size_t> at;
        for (std::size_t p = 1000; p + 4 <= c.size; p += c.gap) {
            at.push_back(p);
        }
        const auto [haystack, planted] = planted_among_letters(needles, c.size, at, rng);
        MultiScan scan = scan_of(built, range_of(haystack));
        EXPECT_TRUE(scan.needles_on());
        std::vector<Match> got;
        std::vector<std::uint64_t> offsets(97);
        std::vector<std::uint32_t> indices(97);
        for (std::size_t n; (n = scan.next_batch(offsets, indices)) > 0;) {
            for (std::size_t k = 0; k < n; ++k) {
                got.emplace_back(offsets[k], indices[k]);
            }
        }
        ASSERT_EQ(got, planted) << c.size << " bytes, a match every " << c.gap;
        EXPECT_EQ(scan.needles_on(), c.needles_at_end)
            << c.size << " bytes, a match every " << c.gap;
    }
}

TEST_P(Multi, OneSearchPerNeedleAcrossItsChunks) {
    // Each of three needles' searches covers a third of kNeedleChunkBytes
    // windows at a time: matches just before, across and after the chunks'
    // ends, of needles listed in another order than they occur, and a needle
    // whose next match lies chunks past the others'.
    const Needles needles = {bytes_of("Qz7#"), bytes_of("k%Vb"), bytes_of("Y&Y")};
    constexpr std::size_t c = MultiScan::kNeedleChunkBytes / 3;
    const std::size_t size = 3 * c + 100;
    std::mt19937 rng(0x63686b);
    for (const std::vector<std::size_t>& at :
         {std::vector<std::size_t>{c - 8, c - 3, c + 1, 2 * c - 2, 2 * c + 5, size - 4},
          std::vector<std::size_t>{5, 2 * c - 1, 2 * c + 3, 3 * c - 3, 3 * c + 90},
          std::vector<std::size_t>{c - 4}}) {
        const auto [haystack, planted] = planted_among_letters(needles, size, at, rng);
        const Built built(needles, false);
        ASSERT_TRUE(scan_of(built, range_of(haystack)).needles_on());
        for (const std::size_t batch : {1u, 256u}) {
            ASSERT_EQ(scanned(built, range_of(haystack), batch), planted)
                << "first planted at " << at.front() << ", batch " << batch;
        }
        MultiScan counter = scan_of(built, range_of(haystack));
        EXPECT_EQ(counter.count_rest(), planted.size());
    }
}

TEST_P(Multi, FingerprintsPastACommonOpeningKeepTheLeftmostFirstListedMatch) {
    // Lines of code: every needle but the last opens with indentation, so
    // its fingerprint lies past the spaces, and a hit there stands for a
    // start up to kMaxBucketShift bytes before it. A needle fingerprinted at
    // its start ("ret", "n x") hits before one that starts earlier but is
    // fingerprinted later, so the scan must look on past its first match;
    // and after each match it must go back to hits it had already read.
    const Needles needles = {bytes_of("    return x"), bytes_of("  return"), bytes_of("        if"),
                             bytes_of("n x"),          bytes_of("ret"),      bytes_of("if x")};
    const Built built(needles, false);
    const MultiAutomaton& a = built.automaton();
    ASSERT_TRUE(a.has_buckets);
    EXPECT_GT(a.bucket_max_shift, 0u);
    std::mt19937 rng(0x73686966);
    const char* const lines[] = {"    return x\n", "        if x:\n", "  return y\n",
                                 "    x = ret\n",  "if x\n",          "        return x\n"};
    for (int round = 0; round < 40; ++round) {
        Bytes haystack;
        for (int line = 0; line < 60; ++line) {
            const std::string_view text = lines[rng() % std::size(lines)];
            haystack.insert(haystack.end(), text.begin(), text.end());
        }
        expect_matches(haystack, needles, false, "round " + std::to_string(round));
        ASSERT_FALSE(HasFatalFailure());
        expect_matches(haystack, needles, true, "ignore_case, round " + std::to_string(round));
        ASSERT_FALSE(HasFatalFailure());
    }
}

TEST_P(Multi, PlantedAroundBlockBoundaries) {
    const Needles needles = {bytes_of("needle"), bytes_of("need"), bytes_of("dle!"),
                             bytes_of("\xff\x00q")};
    for (const std::size_t n : {63u, 64u, 65u, 200u, 1000u}) {
        for (std::size_t at = 0; at + 6 <= n; at += (at % 64 < 4 || at % 64 > 58) ? 1 : 7) {
            Bytes haystack(n, 'e');
            const Bytes& planted = needles[at % needles.size()];
            std::copy(
                planted.begin(), planted.end(),
                haystack.begin() + static_cast<std::ptrdiff_t>(std::min(at, n - planted.size())));
            expect_matches(haystack, needles, false,
                           "n " + std::to_string(n) + " at " + std::to_string(at));
        }
    }
}

TEST_P(Multi, LargeSetsLeaveDeepStatesSparse) {
    std::mt19937 rng(11);
    Needles needles;
    for (int k = 0; k < 5000; ++k) {
        Bytes needle(3 + rng() % 6);
        for (auto& b : needle) {
            b = static_cast<std::uint8_t>(rng());
        }
        needles.push_back(needle);
    }
    const Built built(needles, false);
    ASSERT_LT(built.automaton().dense_count, built.automaton().state_count);
    Bytes haystack = random_bytes(rng, 3000, std::string("\x01\x02\x03\x04", 4));
    for (std::size_t at = 0; at + 10 < haystack.size(); at += 97) {
        const Bytes& planted = needles[(at * 31) % needles.size()];
        std::copy(planted.begin(), planted.end(),
                  haystack.begin() + static_cast<std::ptrdiff_t>(at));
    }
    const std::vector<Match> expected = plain_matches(haystack, needles, false);
    ASSERT_GE(expected.size(), 25u);
    ASSERT_EQ(scanned(built, range_of(haystack), 64), expected);
}

TEST_P(Multi, ReadsNothingOutsideTheHaystack) {
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    const Needles needles = {bytes_of("xyzzy"), bytes_of("zz"), bytes_of("q")};
    for (const std::size_t n : {0u, 1u, 5u, 31u, 64u, 100u, 4096u}) {
        const Bytes content = [&] {
            Bytes out(n, 'z');
            if (n >= 4) {
                out[n - 4] = 'x';
                out[n - 3] = 'y';
            }
            return out;
        }();
        const std::vector<Match> expected = plain_matches(content, needles, false);
        const Built built(needles, false);
        for (const bool at_end : {true, false}) {
            const std::span<const std::uint8_t> bytes =
                at_end ? page.at_end(content) : page.at_start(content);
            ASSERT_EQ(scanned(built, ByteRange{bytes.data(), n}, 256), expected) << n;
        }
    }
}

// Steps per haystack byte, at most, when no match is reported: one
// automaton step per byte plus the failure links taken, which the depth
// gained pays for, and the bytes the prefilter passes over.
constexpr std::size_t kStepsPerByte = 4;

TEST_P(Multi, SetsThatDefeatThePrefilterStayLinear) {
    const std::size_t n = 20000;
    struct Case {
        std::string name;
        Needles needles;
        Bytes haystack;
    };
    std::vector<Case> cases;
    {
        // Every offset a candidate that fails at its last byte.
        Needles needles;
        for (const char last : std::string("bcdefgh")) {
            needles.push_back(bytes_of(std::string(40, 'a') + last));
        }
        cases.push_back({"runs of a", needles, Bytes(n, 'a')});
    }
    {
        // The bucket filter's worst case: 64 needles, eight to a bucket,
        // every one a candidate at every offset, each failing at its end.
        Needles needles;
        for (int k = 0; k < 64; ++k) {
            needles.push_back(bytes_of(std::string(200, 'a') + std::to_string(k)));
        }
        cases.push_back({"buckets of long needles", needles, Bytes(n, 'a')});
    }
    {
        // The start filter's: every offset a candidate the trie follows for
        // 200 bytes.
        Needles needles;
        for (int k = 0; k < 300; ++k) {
            needles.push_back(bytes_of(std::string(200, 'a') + "#" + std::to_string(k)));
        }
        cases.push_back({"start keys of long needles", needles, Bytes(n, 'a')});
    }
    {
        // Sparse states: thousands of needles over a two-byte alphabet.
        std::mt19937 rng(3);
        Needles needles;
        for (int k = 0; k < 3000; ++k) {
            needles.push_back(random_bytes(rng, 30, "ab"));
            needles.back().push_back('c');
        }
        std::mt19937 other(4);
        cases.push_back({"binary sparse", needles, random_bytes(other, n, "ab")});
    }
    for (const Case& c : cases) {
        const Built built(c.needles, false);
        detail::g_search_probe = {};
        MultiScan scan = scan_of(built, range_of(c.haystack));
        ASSERT_EQ(scan.count_rest(), 0u) << c.name;
        ASSERT_LE(detail::g_search_probe.multi_steps, kStepsPerByte * n) << c.name;
    }
}

// With matches, each search may read up to the longest needle beyond the
// match it reports.
TEST_P(Multi, MatchesCostAtMostTheLongestNeedleEach) {
    const std::size_t n = 20000;
    const Needles needles = {bytes_of(std::string(30, 'a') + "b"), bytes_of("a")};
    const Bytes haystack(n, 'a');
    const Built built(needles, false);
    detail::g_search_probe = {};
    MultiScan scan = scan_of(built, range_of(haystack));
    ASSERT_EQ(scan.count_rest(), n);
    ASSERT_LE(detail::g_search_probe.multi_steps, kStepsPerByte * n * 31);
}

QARVO_FOR_EVERY_BACKEND(Multi);

}  // namespace
}  // namespace qarvo::test
