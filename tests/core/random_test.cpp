// Seeded random differential against the naive scan. Small alphabets make
// matches, near misses and overlapping occurrences common; haystack and
// needle sit at every address offset modulo 64, so no alignment is assumed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>

#include "backend_fixture.hpp"

namespace qarvo::test {
namespace {

class RandomDifferential : public EveryBackend {};

// `size` bytes drawn from `alphabet` consecutive values starting at `base`.
void fill_random(std::span<std::uint8_t> out, std::mt19937_64& rng, unsigned alphabet,
                 std::uint8_t base) {
    std::uniform_int_distribution<unsigned> pick(0, alphabet - 1);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(base + pick(rng));
    }
}

TEST_P(RandomDifferential, MatchesNaiveScanAtEveryAddressOffset) {
    std::mt19937_64 rng(0x5eed0000u + static_cast<unsigned>(GetParam()));
    std::uniform_int_distribution<std::size_t> hay_size(0, 700);
    std::uniform_int_distribution<unsigned> alphabet(1, 4);
    std::uniform_int_distribution<std::size_t> short_needle(0, 8);
    std::uniform_int_distribution<std::size_t> long_needle(9, 80);
    std::uniform_int_distribution<std::size_t> misalign(0, 63);
    // Bases near both ends of the byte range, so 0x00 and 0xFF take part.
    const std::uint8_t bases[] = {0x00, 0x61, 0x7F, 0xFC};
    // The buffers are reused: only their contents and offsets change.
    Bytes hay_storage(700 + 64);
    Bytes needle_storage(80 + 64);
    for (int round = 0; round < 6000; ++round) {
        const unsigned letters = alphabet(rng);
        const std::uint8_t base = bases[static_cast<std::size_t>(round) % 4];
        const std::span<std::uint8_t> haystack(hay_storage.data() + misalign(rng), hay_size(rng));
        fill_random(haystack, rng, letters, base);
        const std::size_t m = round % 4 == 0 ? long_needle(rng) : short_needle(rng);
        const std::span<std::uint8_t> needle(needle_storage.data() + misalign(rng), m);
        if (round % 3 == 0 && m <= haystack.size()) {
            // A needle cut from the haystack is sure to occur.
            std::uniform_int_distribution<std::size_t> from(0, haystack.size() - m);
            const auto cut = haystack.subspan(from(rng), m);
            std::copy(cut.begin(), cut.end(), needle.begin());
        } else {
            fill_random(needle, rng, letters, base);
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
