// Seeded random differential against the naive scan: small alphabets so that
// matches, near misses and overlapping occurrences are common.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "backend_fixture.hpp"

namespace qarvo::test {
namespace {

class RandomDifferential : public EveryBackend {};

Bytes random_bytes(std::mt19937_64& rng, std::size_t size, unsigned alphabet, std::uint8_t base) {
    Bytes out(size);
    std::uniform_int_distribution<unsigned> pick(0, alphabet - 1);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(base + pick(rng));
    }
    return out;
}

TEST_P(RandomDifferential, MatchesNaiveScan) {
    std::mt19937_64 rng(0x5eed'0000u + static_cast<unsigned>(GetParam()));
    std::uniform_int_distribution<std::size_t> hay_size(0, 700);
    std::uniform_int_distribution<unsigned> alphabet(1, 4);
    std::uniform_int_distribution<unsigned> base_pick(0, 3);
    std::uniform_int_distribution<std::size_t> short_needle(0, 8);
    std::uniform_int_distribution<std::size_t> long_needle(9, 80);
    // Bases near both ends of the byte range, so 0x00 and 0xFF take part.
    const std::uint8_t bases[] = {0x00, 0x61, 0x7F, 0xFC};
    for (int round = 0; round < 6000; ++round) {
        const unsigned letters = alphabet(rng);
        const std::uint8_t base = bases[base_pick(rng)];
        const Bytes haystack = random_bytes(rng, hay_size(rng), letters, base);
        const std::size_t m = round % 4 == 0 ? long_needle(rng) : short_needle(rng);
        Bytes needle;
        if (round % 3 == 0 && m <= haystack.size()) {
            // A needle cut from the haystack is sure to occur.
            std::uniform_int_distribution<std::size_t> from(0, haystack.size() - m);
            const std::size_t at = from(rng);
            needle.assign(haystack.begin() + static_cast<std::ptrdiff_t>(at),
                          haystack.begin() + static_cast<std::ptrdiff_t>(at + m));
        } else {
            needle = random_bytes(rng, m, letters, base);
        }
        expect_all_match_naive(haystack, needle);
        if (HasFatalFailure()) {
            return;
        }
    }
}

QARVO_FOR_EVERY_BACKEND(RandomDifferential);

}  // namespace
}  // namespace qarvo::test
