// Small seed cases, each padded with 0 to 300 filler bytes on one side and
// one of a set of edge lengths on the other, so every seed is tried at every
// position relative to the block structure of every variant.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend_fixture.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

struct Seed {
    std::string_view haystack;
    std::string_view needle;
    std::optional<std::size_t> expected;
};

using namespace std::string_view_literals;

const Seed kSeeds[] = {
    {"", "a", std::nullopt},
    {"a", "a", 0},
    {"b", "a", std::nullopt},
    {"ab", "b", 1},
    {"ab", "ab", 0},
    {"ba", "ab", std::nullopt},
    {"aab", "ab", 1},
    {"aaa", "aa", 0},
    {"abc", "abc", 0},
    {"abababc", "abc", 4},
    {"aabaabaab", "aab", 0},
    {"xxxxy", "xxy", 2},
    {"abcd", "abcd", 0},
    {"abcabcd", "abcd", 3},
    {"abdabcd", "abcd", 3},
    {"aaaab", "aaab", 1},
    {"abxdabcd", "abcd", 4},
    {"zabcdzabcde", "abcde", 6},
    {"abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz", "zab", 25},
    {"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGH", "wxyz0123456789ABCDEF", 22},
    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "aaaaaaaaaaaaaaaaab", 23},
    {"abaabaaabaaaab", "aaaab", 9},
    {"\x00\x00\xff"sv, "\x00\xff"sv, 1},
    {"\xff\xff\xff\x00"sv, "\xff\x00"sv, 2},
    {"\x00\x01\x00\x00\x01\x00\x01"sv, "\x00\x01\x00\x01"sv, 3},
    {"\xff\x00\xff\x00\xff\x00\xff\x00\xff"sv, "\x00\xff\x00\xff\x00"sv, 1},
    // '|', a byte text does not use, is tested alone by the wide variants.
    {"|a|b|ab|", "b|", 3},
    {"a|ba|bb|b", "|bb", 4},
    {"needle in a haystack", "hay", 12},
    {"needle in a haystack", "needle in a haystack", 0},
    {"needle in a haystack", "needle in a haystack!", std::nullopt},
    {"needle in a haystack", "haystacks", std::nullopt},
};

Bytes bytes_of(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

class SeedCases : public EveryBackend {};

// Paddings tried on one side while the other side takes each of kEdges:
// around each vector width, where the wide variants' plain prefix ends
// (384), and long enough for them to choose their filter bytes (4096).
constexpr std::size_t kEdges[] = {0,  1,   15,  16,  17,  31,  32,  63,  64,
                                  65, 255, 256, 300, 383, 384, 385, 4096};

TEST_P(SeedCases, PaddedSeedsMatchTheNaiveScan) {
    for (const Seed& seed : kSeeds) {
        const Bytes haystack = bytes_of(seed.haystack);
        const Bytes needle = bytes_of(seed.needle);
        // The table itself is checked against the reference first.
        const SearchResult seed_result = naive_find(haystack, needle);
        ASSERT_EQ(seed_result,
                  seed.expected ? SearchResult::at(*seed.expected) : SearchResult::not_found())
            << "seed table entry for needle \"" << seed.needle << "\"";
        // Filler occurs in neither the needle nor the seed's haystack, so the
        // padded answer is the seed's answer moved by the padding before it.
        const std::uint8_t filler =
            filler_for(bytes_of(std::string(seed.needle) + std::string(seed.haystack)), '#');
        for (std::size_t before = 0; before <= 300; ++before) {
            for (const std::size_t after_edge : kEdges) {
                for (const bool swap : {false, true}) {
                    const std::size_t pre = swap ? after_edge : before;
                    const std::size_t post = swap ? before : after_edge;
                    Bytes padded(pre, filler);
                    padded.insert(padded.end(), haystack.begin(), haystack.end());
                    padded.insert(padded.end(), post, filler);
                    const SearchResult expected = seed_result.found()
                                                      ? SearchResult::at(pre + seed_result.offset())
                                                      : SearchResult::not_found();
                    ASSERT_EQ(routines().find_n(range_of(padded), range_of(needle)), expected)
                        << "needle \"" << seed.needle << "\", " << pre << " bytes before, " << post
                        << " after";
                    if (needle.size() <= 3) {
                        ASSERT_EQ(find_by_length(padded, needle), expected)
                            << "needle \"" << seed.needle << "\", " << pre << " bytes before, "
                            << post << " after";
                    }
                }
            }
        }
    }
}

QARVO_FOR_EVERY_BACKEND(SeedCases);

}  // namespace
}  // namespace qarvo::test
