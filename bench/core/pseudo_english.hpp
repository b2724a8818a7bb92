// The pseudo-English text and the absent needles that the core's benchmark
// programs search (bench_search.cpp, route_in_turns.cpp): the same bytes on
// every run and every machine.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qarvo_bench {

// The text holds lower-case letters, space, comma, full stop and newline only,
// so this byte never occurs in it; every needle carries it once.
constexpr std::uint8_t kAbsentByte = '|';

// splitmix64: a fixed, fast, portable generator, so every run and every
// machine scans the same bytes.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }

private:
    std::uint64_t state_;
};

// Pseudo-English: words built from consonant-vowel syllables, drawn from a
// fixed vocabulary with Zipf-like frequencies (rank r weighs 1/r), with the
// usual sprinkling of commas, full stops and line breaks. Haystack and needles
// are written in the same language, from different seeds.
class Language {
public:
    Language() {
        Random rng(0x766f'6361'6275ULL);
        static constexpr std::string_view kOnsets[] = {
            "t", "th", "s",  "n",  "r", "h", "l", "d",  "c",  "m",  "w",  "f", "g",
            "p", "b",  "st", "wh", "v", "k", "y", "sh", "ch", "tr", "pl", ""};
        static constexpr std::string_view kVowels[] = {"e",  "a",  "o",  "i", "u",
                                                       "ea", "ou", "ee", "ai"};
        static constexpr std::string_view kCodas[] = {"",  "",  "",  "n",  "s",
                                                      "t", "r", "d", "ng", "ll"};
        for (int w = 0; w < 4000; ++w) {
            std::string word;
            const std::size_t syllables = 1 + rng.below(3) * rng.below(2) + rng.below(2);
            for (std::size_t s = 0; s < syllables; ++s) {
                word += kOnsets[rng.below(std::size(kOnsets))];
                word += kVowels[rng.below(std::size(kVowels))];
                word += kCodas[rng.below(std::size(kCodas))];
            }
            words_.push_back(std::move(word));
        }
        // Short words are the frequent ones, as in English.
        std::stable_sort(
            words_.begin(), words_.end(),
            [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
        double total = 0;
        for (std::size_t r = 1; r <= words_.size(); ++r) {
            total += 1.0 / static_cast<double>(r);
            cumulative_.push_back(total);
        }
    }

    // Fills `out` with text; the same seed gives the same bytes.
    void write(std::span<std::uint8_t> out, std::uint64_t seed) const {
        Random rng(seed);
        std::size_t at = 0;
        auto put = [&](char c) {
            if (at < out.size()) {
                out[at++] = static_cast<std::uint8_t>(c);
            }
        };
        while (at < out.size()) {
            const double u = static_cast<double>(rng.next() >> 11) * 0x1.0p-53 * cumulative_.back();
            const auto rank = static_cast<std::size_t>(
                std::lower_bound(cumulative_.begin(), cumulative_.end(), u) - cumulative_.begin());
            for (const char c : words_[std::min(rank, words_.size() - 1)]) {
                put(c);
            }
            const std::size_t mark = rng.below(100);
            if (mark < 6) {
                put(',');
            } else if (mark < 11) {
                put('.');
            }
            put(mark == 99 ? '\n' : ' ');
        }
    }

private:
    std::vector<std::string> words_;
    std::vector<double> cumulative_;
};

// A needle of m bytes that the text never contains: the start of a phrase
// in the same language with the absent byte in its middle (at m / 2). For
// m >= 4 its first, second and last bytes are ordinary letters, so candidate
// positions turn up as often as they would for a real absent word.
inline std::vector<std::uint8_t> make_needle(const Language& language, std::size_t m) {
    // Start at a word, as a searched-for word would. The words are far
    // shorter than the 64 spare bytes, so m bytes remain.
    std::vector<std::uint8_t> needle(m + 64);
    language.write(needle, 0x6e65'6564'6c65ULL);
    const auto space = std::find(needle.begin(), needle.end(), ' ');
    needle.erase(needle.begin(), space + 1);
    assert(needle.size() >= m);
    needle.resize(m);
    needle[m / 2] = kAbsentByte;
    return needle;
}

}  // namespace qarvo_bench
