// The routines the dispatcher chose for this CPU against each variant's own,
// timed in turns in one process: for every routine and haystack length, one
// sample of each table in turn, seven times, and the fastest sample of each.
//
// The core benchmark (bench_search.cpp) times one contender after another;
// on a shared KVM guest the same code timed 0.77 to 1.04 of itself from one
// benchmark to the next there, which hides what a route changes. Taking the
// tables in turns puts every drift of the machine on all of them alike.
//
//   qarvo_route_in_turns [LENGTH ...]     (default: 64 B to 1 MiB)
//
// Prints, per routine, for each length the default's time over each others
// variant's inverted (above 1: the default is faster) and the pairs below
// 0.95. The haystack is the core benchmark's pseudo-English text, the needles
// its absent ones (the byte '|' in the middle) and an upper-case copy for
// the case-insensitive searches; count_one counts the letter 'e', the byte
// sets hold bytes the text never does.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "pseudo_english.hpp"
#include "qarvo/backend.hpp"
#include "qarvo/search.hpp"

namespace {

using Search = std::function<std::size_t(const qarvo::SearchRoutines&, qarvo::ByteRange)>;

std::size_t offset_of(qarvo::SearchResult r) {
    return r.found() ? r.offset() : 0;
}

// Nanoseconds of one call: loops doubled until a sample lasts 200 µs.
double sample_ns(const Search& search, const qarvo::SearchRoutines& table, qarvo::ByteRange h,
                 std::size_t& sink) {
    for (std::size_t loops = 1;; loops *= 2) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t k = 0; k < loops; ++k) {
            sink += search(table, h);
        }
        const double ns =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                .count();
        if (ns > 200e3) {
            return ns / static_cast<double>(loops);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> lengths;
    for (int k = 1; k < argc; ++k) {
        lengths.push_back(std::strtoull(argv[k], nullptr, 10));
    }
    if (lengths.empty()) {
        lengths = {64, 128, 256, 512, 1024, 2048, 4096, 16384, 65536, 262144, 1048576};
    }
    const std::size_t longest = *std::max_element(lengths.begin(), lengths.end());
    const qarvo_bench::Language language;
    std::vector<std::uint8_t> text(longest);
    language.write(text, 0x7172'7661'6f00ULL);
    const auto n2 = qarvo_bench::make_needle(language, 2);
    const auto n3 = qarvo_bench::make_needle(language, 3);
    const auto n4 = qarvo_bench::make_needle(language, 4);
    const auto n16 = qarvo_bench::make_needle(language, 16);
    const auto n64 = qarvo_bench::make_needle(language, 64);
    std::string folded(n16.begin(), n16.end());
    for (char& c : folded) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
    const auto range = [](const auto& bytes) {
        return qarvo::ByteRange{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
    };
    // Sets of bytes the text never holds: one and two take the compares,
    // three and the ten digits the table lookup on AVX-512.
    qarvo::ByteSet one_mark;
    one_mark.add('|');
    qarvo::ByteSet two_marks;
    two_marks.add('|');
    two_marks.add('#');
    qarvo::ByteSet three_marks = two_marks;
    three_marks.add('@');
    qarvo::ByteSet digits;
    for (char c = '0'; c <= '9'; ++c) {
        digits.add(static_cast<std::uint8_t>(c));
    }
    const std::vector<std::pair<const char*, Search>> searches = {
        {"find_one", [](auto& t, auto h) { return offset_of(t.find_one(h, '|')); }},
        {"find_two", [&](auto& t, auto h) { return offset_of(t.find_two(h, n2[0], n2[1])); }},
        {"find_three",
         [&](auto& t, auto h) { return offset_of(t.find_three(h, n3[0], n3[1], n3[2])); }},
        {"find_n m=4", [&](auto& t, auto h) { return offset_of(t.find_n(h, range(n4))); }},
        {"find_n m=16", [&](auto& t, auto h) { return offset_of(t.find_n(h, range(n16))); }},
        {"find_n m=64", [&](auto& t, auto h) { return offset_of(t.find_n(h, range(n64))); }},
        {"rfind_one", [](auto& t, auto h) { return offset_of(t.rfind_one(h, '|')); }},
        {"rfind_two", [&](auto& t, auto h) { return offset_of(t.rfind_two(h, n2[0], n2[1])); }},
        {"rfind_three",
         [&](auto& t, auto h) { return offset_of(t.rfind_three(h, n3[0], n3[1], n3[2])); }},
        {"rfind_n m=4", [&](auto& t, auto h) { return offset_of(t.rfind_n(h, range(n4))); }},
        {"rfind_n m=16", [&](auto& t, auto h) { return offset_of(t.rfind_n(h, range(n16))); }},
        {"count_one", [](auto& t, auto h) { return t.count_one(h, 'e'); }},
        {"find_any k=1", [&](auto& t, auto h) { return offset_of(t.find_any(h, one_mark)); }},
        {"find_any k=2", [&](auto& t, auto h) { return offset_of(t.find_any(h, two_marks)); }},
        {"find_any k=10", [&](auto& t, auto h) { return offset_of(t.find_any(h, digits)); }},
        {"rfind_any k=3", [&](auto& t, auto h) { return offset_of(t.rfind_any(h, three_marks)); }},
        {"find_folded m=16",
         [&](auto& t, auto h) { return offset_of(t.find_folded(h, range(folded))); }},
        {"rfind_folded m=16",
         [&](auto& t, auto h) { return offset_of(t.rfind_folded(h, range(folded))); }},
    };
    const qarvo::SearchRoutines& chosen = qarvo::active_routines();
    std::vector<qarvo::Backend> others;
    for (const qarvo::Backend b : qarvo::supported_backends()) {
        if (qarvo::routines_for(b) != &chosen) {
            others.push_back(b);
        }
    }
    std::printf("default: %s route; ratios: the variant's time over the default's\n",
                std::string(qarvo::backend_name(chosen.backend)).c_str());
    std::size_t sink = 0;
    std::size_t below = 0;
    for (const auto& [name, search] : searches) {
        for (const qarvo::Backend b : others) {
            const qarvo::SearchRoutines& other = *qarvo::routines_for(b);
            std::printf("%-18s vs %-8s", name, std::string(qarvo::backend_name(b)).c_str());
            for (const std::size_t n : lengths) {
                const qarvo::ByteRange h{text.data(), n};
                double mine = 1e300;
                double theirs = 1e300;
                for (int round = 0; round < 7; ++round) {
                    mine = std::min(mine, sample_ns(search, chosen, h, sink));
                    theirs = std::min(theirs, sample_ns(search, other, h, sink));
                }
                const double ratio = theirs / mine;
                below += ratio < 0.95 ? 1 : 0;
                std::printf(" %zu:%.2f", n, ratio);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    std::printf("pairs below 0.95: %zu (sink %zu)\n", below, sink % 10);
    return 0;
}
