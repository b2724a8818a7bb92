// Inputs on which nearly every position passes find_n's three-byte filter and
// fails late, so that the search hands over to its linear-time guard part way
// through. Checked by result against the naive scan, wherever the match is.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "backend_fixture.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

class WorstCase : public EveryBackend {
protected:
    void expect_naive(const Bytes& haystack, const Bytes& needle) const {
        ASSERT_EQ(routines().find_n(range_of(haystack), range_of(needle)),
                  naive_find(haystack, needle))
            << "haystack of " << haystack.size() << ", needle of " << needle.size();
    }
};

// 'a' * k + 'b' + 'a' * k: in a run of 'a' every position is a candidate that
// fails only at the 'b'.
Bytes a_b_a(std::size_t k) {
    Bytes needle(2 * k + 1, 'a');
    needle[k] = 'b';
    return needle;
}

TEST_P(WorstCase, RunOfOneByteWithTheNeedleAtManyPlaces) {
    for (const std::size_t k : {2u, 3u, 8u, 40u, 150u}) {
        const Bytes needle = a_b_a(k);
        const Bytes run(6000, 'a');
        expect_naive(run, needle);
        ASSERT_FALSE(HasFatalFailure());
        // The needle planted early (found before any hand-over), at places
        // around where the hand-over happens, and at the very end.
        for (std::size_t at = 0; at + needle.size() <= run.size(); at += at < 700 ? 13 : 997) {
            Bytes haystack = run;
            plant(haystack, at, needle);
            expect_naive(haystack, needle);
            ASSERT_FALSE(HasFatalFailure()) << "planted at " << at;
        }
        Bytes haystack = run;
        plant(haystack, run.size() - needle.size(), needle);
        expect_naive(haystack, needle);
        ASSERT_FALSE(HasFatalFailure());
    }
}

TEST_P(WorstCase, PeriodicHaystackAndNeedleFailingInTheMiddle) {
    // "abab...": every even position passes the filter of the needle below.
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text += "ab";
    }
    for (const std::size_t half : {3u, 10u, 64u}) {
        std::string needle_text;
        for (std::size_t i = 0; i < half; ++i) {
            needle_text += "ab";
        }
        needle_text[half] = 'c';  // a middle byte breaks the period
        const Bytes needle(needle_text.begin(), needle_text.end());
        const Bytes haystack(text.begin(), text.end());
        expect_naive(haystack, needle);
        ASSERT_FALSE(HasFatalFailure());
        for (const std::size_t at : {100u, 1001u, 2500u, 5000u}) {
            Bytes planted = haystack;
            plant(planted, at, needle);
            expect_naive(planted, needle);
            ASSERT_FALSE(HasFatalFailure()) << "planted at " << at;
        }
    }
}

TEST_P(WorstCase, SparseRandomDifferential) {
    // Mostly 'a' with a few 'b': long runs of candidates, and needles that
    // sometimes do and sometimes do not occur after them.
    std::mt19937_64 rng(99);
    std::uniform_int_distribution<std::size_t> size(0, 4000);
    std::uniform_int_distribution<std::size_t> needle_size(4, 120);
    std::bernoulli_distribution rare_b(0.004);
    for (int round = 0; round < 150; ++round) {
        Bytes haystack(size(rng));
        for (auto& b : haystack) {
            b = rare_b(rng) ? 'b' : 'a';
        }
        Bytes needle(needle_size(rng), 'a');
        std::uniform_int_distribution<std::size_t> where(1, needle.size() - 2);
        needle[where(rng)] = 'b';
        if (round % 2 == 0) {
            needle[where(rng)] = 'b';
        }
        expect_naive(haystack, needle);
        ASSERT_FALSE(HasFatalFailure()) << "round " << round;
    }
}

QARVO_FOR_EVERY_BACKEND(WorstCase);

}  // namespace
}  // namespace qarvo::test
