// Throughput of the search core beside the C library and the standard library.
//
// Every benchmark scans a prefix of one pseudo-English text (16 B to 64 MiB) for a needle of 1, 2,
// 3, 4, 8, 16 or 64 bytes, either absent (the whole prefix is scanned) or planted once at the last
// possible offset. Contenders: qarvo through its public entry points and through each variant the
// CPU runs, memchr (1 byte), memmem, std::string_view::find, and a plain read-only pass over the
// same bytes as the bandwidth roof. Bytes per second count the haystack bytes handed to one call.
//
// Names are "<case>/m=<needle length>/<contender>/n=<haystack bytes>"
// (and "roof/n=<bytes>"; the byte-set searches: register_sets); bench/core/report_table.py turns
// the JSON output into the tables of bench/README.md.
//
// The searches from the end run on the same text: "rfind_no_match" and
// "rfind_match_at_start" (the needle planted at offset 0, so the whole
// haystack is scanned) beside memrchr (1 byte) and std::string_view::rfind;
// "count/m=1" counts a common letter beside std::count. Their ratios to the
// forward cases and to "roof" are what the reverse routines are tuned by.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pseudo_english.hpp"
#include "qarvo/backend.hpp"
#include "qarvo/search.hpp"

namespace {

using qarvo_bench::kAbsentByte;
using qarvo_bench::Language;
using qarvo_bench::make_needle;

constexpr std::size_t kNotFound = ~std::size_t{0};
// The short ones are where one call's fixed cost decides: 16 to 64 bytes, 40 for
// the lines of text that a parser looks at, 1 KiB for a small record.
constexpr std::size_t kHaystackSizes[] = {16,
                                          32,
                                          40,
                                          64,
                                          std::size_t{1} << 10,
                                          std::size_t{4} << 10,
                                          std::size_t{1} << 20,
                                          std::size_t{64} << 20};
constexpr std::size_t kNeedleLengths[] = {1, 2, 3, 4, 8, 16, 64};

// The run case: a haystack of one byte repeated, and a needle of that byte
// with one other byte near its end, so that every position matches all but
// one needle byte. A filter on fixed needle bytes (the first, second and
// last) passes every position; only one on the odd byte rejects them.
constexpr std::uint8_t kRunByte = 'z';
constexpr std::uint8_t kRunOddByte = 'e';
constexpr std::size_t kRunSizes[] = {std::size_t{4} << 10, std::size_t{100} << 10,
                                     std::size_t{1} << 20};
constexpr std::size_t kRunNeedleLengths[] = {8, 64, 128, 600};

// The run needle of m bytes: the run byte, then the odd byte, then two more
// run bytes.
std::vector<std::uint8_t> make_run_needle(std::size_t m) {
    std::vector<std::uint8_t> needle(m, kRunByte);
    needle[m - 3] = kRunOddByte;
    return needle;
}

// Page-aligned storage for the haystack, as the allocator hands out large
// buffers; every contender sees the same alignment.
struct FreeBytes {
    void operator()(std::uint8_t* p) const noexcept { std::free(p); }
};
using AlignedBytes = std::unique_ptr<std::uint8_t[], FreeBytes>;

AlignedBytes aligned_bytes(std::size_t size) {
    void* p = std::aligned_alloc(4096, size);
    if (p == nullptr) {
        std::abort();
    }
    return AlignedBytes(static_cast<std::uint8_t*>(p));
}

// match_early puts the needle at kEarlyOffset of a haystack of at least
// kEarlyFrom bytes: the search stops long before the end, so what it costs is
// its setup and first steps.
enum class Case { no_match, match_at_end, match_early };
constexpr std::size_t kEarlyOffset = 24;
constexpr std::size_t kEarlyFrom = std::size_t{1} << 10;

const char* case_name(Case which) {
    switch (which) {
        case Case::no_match:
            return "no_match";
        case Case::match_at_end:
            return "match_at_end";
        case Case::match_early:
            return "match_early";
    }
    return "?";
}

// One search: the offset of the first occurrence, or kNotFound. `variant` is
// the routine table a qarvo contender runs (null for the others).
using SearchFn = std::size_t (*)(const qarvo::SearchRoutines* variant, const std::uint8_t* haystack,
                                 std::size_t n, const std::uint8_t* needle, std::size_t m);

struct Contender {
    std::string name;
    SearchFn search;
    const qarvo::SearchRoutines* variant = nullptr;
};

std::size_t offset_of(qarvo::SearchResult r) {
    return r.found() ? r.offset() : kNotFound;
}

std::size_t offset_of(const void* p, const std::uint8_t* haystack) {
    return p == nullptr ? kNotFound
                        : static_cast<std::size_t>(static_cast<const std::uint8_t*>(p) - haystack);
}

std::size_t with_memchr(const qarvo::SearchRoutines*, const std::uint8_t* h, std::size_t n,
                        const std::uint8_t* x, std::size_t) {
    return offset_of(std::memchr(h, x[0], n), h);
}

std::size_t with_memmem(const qarvo::SearchRoutines*, const std::uint8_t* h, std::size_t n,
                        const std::uint8_t* x, std::size_t m) {
    return offset_of(memmem(h, n, x, m), h);
}

std::size_t with_string_view(const qarvo::SearchRoutines*, const std::uint8_t* h, std::size_t n,
                             const std::uint8_t* x, std::size_t m) {
    const std::string_view haystack(reinterpret_cast<const char*>(h), n);
    // The one-character overload is the one a caller would use for one byte.
    const std::size_t p =
        m == 1 ? haystack.find(static_cast<char>(x[0]))
               : haystack.find(std::string_view(reinterpret_cast<const char*>(x), m));
    return p == std::string_view::npos ? kNotFound : p;
}

// The public entry points, which run the variant chosen for this process.
std::size_t with_qarvo(const qarvo::SearchRoutines*, const std::uint8_t* h, std::size_t n,
                       const std::uint8_t* x, std::size_t m) {
    const qarvo::ByteRange haystack{h, n};
    switch (m) {
        case 1:
            return offset_of(qarvo::find_one(haystack, x[0]));
        case 2:
            return offset_of(qarvo::find_two(haystack, x[0], x[1]));
        case 3:
            return offset_of(qarvo::find_three(haystack, x[0], x[1], x[2]));
        default:
            return offset_of(qarvo::find_n(haystack, {x, m}));
    }
}

// One variant's routine for the needle length, picked as search_one/two/three/n
// pick theirs.
std::size_t with_variant(const qarvo::SearchRoutines* variant, const std::uint8_t* h, std::size_t n,
                         const std::uint8_t* x, std::size_t m) {
    const qarvo::ByteRange haystack{h, n};
    switch (m) {
        case 1:
            return offset_of(variant->find_one(haystack, x[0]));
        case 2:
            return offset_of(variant->find_two(haystack, x[0], x[1]));
        case 3:
            return offset_of(variant->find_three(haystack, x[0], x[1], x[2]));
        default:
            return offset_of(variant->find_n(haystack, {x, m}));
    }
}

std::size_t with_memrchr(const qarvo::SearchRoutines*, const std::uint8_t* h, std::size_t n,
                         const std::uint8_t* x, std::size_t) {
    return offset_of(memrchr(h, x[0], n), h);
}

std::size_t with_string_view_rfind(const qarvo::SearchRoutines*, const std::uint8_t* h,
                                   std::size_t n, const std::uint8_t* x, std::size_t m) {
    const std::string_view haystack(reinterpret_cast<const char*>(h), n);
    const std::size_t p =
        m == 1 ? haystack.rfind(static_cast<char>(x[0]))
               : haystack.rfind(std::string_view(reinterpret_cast<const char*>(x), m));
    return p == std::string_view::npos ? kNotFound : p;
}

// The public reverse entry points: rfind_one, and rfind_n for longer needles
// (which dispatches two and three bytes to the variant's own routines).
std::size_t with_qarvo_rfind(const qarvo::SearchRoutines*, const std::uint8_t* h, std::size_t n,
                             const std::uint8_t* x, std::size_t m) {
    const qarvo::ByteRange haystack{h, n};
    return offset_of(m == 1 ? qarvo::rfind_one(haystack, x[0]) : qarvo::rfind_n(haystack, {x, m}));
}

std::size_t with_variant_rfind(const qarvo::SearchRoutines* variant, const std::uint8_t* h,
                               std::size_t n, const std::uint8_t* x, std::size_t m) {
    const qarvo::ByteRange haystack{h, n};
    switch (m) {
        case 1:
            return offset_of(variant->rfind_one(haystack, x[0]));
        case 2:
            return offset_of(variant->rfind_two(haystack, x[0], x[1]));
        case 3:
            return offset_of(variant->rfind_three(haystack, x[0], x[1], x[2]));
        default:
            return offset_of(variant->rfind_n(haystack, {x, m}));
    }
}

// The counts: the result is the number of occurrences of x[0].
std::size_t with_std_count(const qarvo::SearchRoutines*, const std::uint8_t* h, std::size_t n,
                           const std::uint8_t* x, std::size_t) {
    return static_cast<std::size_t>(std::count(h, h + n, x[0]));
}

std::size_t with_qarvo_count(const qarvo::SearchRoutines*, const std::uint8_t* h, std::size_t n,
                             const std::uint8_t* x, std::size_t) {
    return qarvo::count_one({h, n}, x[0]);
}

std::size_t with_variant_count(const qarvo::SearchRoutines* variant, const std::uint8_t* h,
                               std::size_t n, const std::uint8_t* x, std::size_t) {
    return variant->count_one({h, n}, x[0]);
}

std::vector<Contender> reverse_contenders_for(std::size_t m) {
    std::vector<Contender> list;
    if (m == 1) {
        list.push_back({"memrchr", with_memrchr});
    }
    list.push_back({"string_view::rfind", with_string_view_rfind});
    list.push_back({"qarvo", with_qarvo_rfind});
    for (const qarvo::Backend b : qarvo::supported_backends()) {
        list.push_back({"qarvo." + std::string(qarvo::backend_name(b)), with_variant_rfind,
                        qarvo::routines_for(b)});
    }
    return list;
}

std::vector<Contender> count_contenders() {
    std::vector<Contender> list;
    list.push_back({"std::count", with_std_count});
    list.push_back({"qarvo", with_qarvo_count});
    for (const qarvo::Backend b : qarvo::supported_backends()) {
        list.push_back({"qarvo." + std::string(qarvo::backend_name(b)), with_variant_count,
                        qarvo::routines_for(b)});
    }
    return list;
}

std::vector<Contender> contenders_for(std::size_t m) {
    std::vector<Contender> list;
    if (m == 1) {
        list.push_back({"memchr", with_memchr});
    }
    list.push_back({"memmem", with_memmem});
    list.push_back({"string_view::find", with_string_view});
    list.push_back({"qarvo", with_qarvo});
    for (const qarvo::Backend b : qarvo::supported_backends()) {
        list.push_back(
            {"qarvo." + std::string(qarvo::backend_name(b)), with_variant, qarvo::routines_for(b)});
    }
    return list;
}

// Writes the needle over the m bytes at `offset` of the haystack for as long
// as it lives, so one shared text serves every case.
class Planted {
public:
    Planted(std::span<std::uint8_t> haystack, std::size_t offset,
            std::span<const std::uint8_t> needle)
        : spot_(haystack.subspan(offset, needle.size())), saved_(spot_.begin(), spot_.end()) {
        std::copy(needle.begin(), needle.end(), spot_.begin());
    }
    ~Planted() { std::copy(saved_.begin(), saved_.end(), spot_.begin()); }
    Planted(const Planted&) = delete;
    Planted& operator=(const Planted&) = delete;

private:
    std::span<std::uint8_t> spot_;
    std::vector<std::uint8_t> saved_;
};

// Where a case plants its needle (kNotFound: nowhere), which is also the
// expected offset, for the forward or (`reverse`) the reverse searches. From
// the end, "at end" means at offset 0, the last window reached.
std::size_t planted_at(Case which, bool reverse, std::size_t n, std::size_t m) {
    switch (which) {
        case Case::no_match:
            return kNotFound;
        case Case::match_at_end:
            return reverse ? 0 : n - m;
        case Case::match_early:
            return reverse ? n - m - kEarlyOffset : kEarlyOffset;
    }
    return kNotFound;
}

void run_search(benchmark::State& state, std::span<std::uint8_t> haystack,
                std::span<const std::uint8_t> needle, Case which, const Contender* contender,
                bool reverse) {
    std::optional<Planted> planted;
    const std::size_t expected = planted_at(which, reverse, haystack.size(), needle.size());
    if (expected != kNotFound) {
        planted.emplace(haystack, expected, needle);
    }
    // A contender that answers wrongly is not timed.
    const SearchFn search = contender->search;
    const qarvo::SearchRoutines* const variant = contender->variant;
    if (search(variant, haystack.data(), haystack.size(), needle.data(), needle.size()) !=
        expected) {
        state.SkipWithError("wrong result");
        return;
    }
    for (auto _ : state) {
        const std::uint8_t* h = haystack.data();
        benchmark::DoNotOptimize(h);
        benchmark::DoNotOptimize(search(variant, h, haystack.size(), needle.data(), needle.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(haystack.size()));
}

// The byte the count cases count: the commonest letter of the text.
constexpr std::uint8_t kCountedByte = 'e';

// One count of `byte`, checked against std::count before it is timed.
void run_count(benchmark::State& state, std::span<const std::uint8_t> haystack, std::uint8_t byte,
               const Contender* contender) {
    const SearchFn count = contender->search;
    const qarvo::SearchRoutines* const variant = contender->variant;
    const auto expected =
        static_cast<std::size_t>(std::count(haystack.begin(), haystack.end(), byte));
    if (count(variant, haystack.data(), haystack.size(), &byte, 1) != expected) {
        state.SkipWithError("wrong result");
        return;
    }
    for (auto _ : state) {
        const std::uint8_t* h = haystack.data();
        benchmark::DoNotOptimize(h);
        benchmark::DoNotOptimize(count(variant, h, haystack.size(), &byte, 1));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(haystack.size()));
}

// Generic vectors of the compiler's vector extension: 64 bytes (one register
// with AVX-512, four with SSE2) and 32 (one with AVX2). A 64-byte vector in
// code built for AVX2 went through the stack on every step, which held the
// roof below a quarter of memchr's speed on an AVX2 CPU; each width is used
// where it fits the registers.
using Block64 = std::uint64_t __attribute__((vector_size(64)));
using Block32 = std::uint64_t __attribute__((vector_size(32)));

// OR of every byte of [data, data + size): whole blocks four at a time (four
// independent OR chains, so loads set the pace), then single blocks, then
// bytes.
template <class Block>
[[gnu::always_inline]] inline std::uint64_t or_blocks(const std::uint8_t* data,
                                                      std::size_t size) noexcept {
    constexpr std::size_t kBlock = sizeof(Block);
    Block acc[4] = {};
    std::size_t i = 0;
    for (; i + 4 * kBlock <= size; i += 4 * kBlock) {
        Block b0, b1, b2, b3;
        std::memcpy(&b0, data + i, kBlock);
        std::memcpy(&b1, data + i + kBlock, kBlock);
        std::memcpy(&b2, data + i + 2 * kBlock, kBlock);
        std::memcpy(&b3, data + i + 3 * kBlock, kBlock);
        acc[0] |= b0;
        acc[1] |= b1;
        acc[2] |= b2;
        acc[3] |= b3;
    }
    for (; i + kBlock <= size; i += kBlock) {
        Block b;
        std::memcpy(&b, data + i, kBlock);
        acc[0] |= b;
    }
    const Block all = acc[0] | acc[1] | acc[2] | acc[3];
    std::uint64_t result = 0;
    for (std::size_t k = 0; k < kBlock / 8; ++k) {
        result |= all[k];
    }
    for (; i < size; ++i) {
        result |= data[i];
    }
    return result;
}

using OrOfBytes = std::uint64_t (*)(const std::uint8_t*, std::size_t) noexcept;

std::uint64_t or_of_bytes_baseline(const std::uint8_t* data, std::size_t size) noexcept {
    return or_blocks<Block64>(data, size);
}

#if defined(__x86_64__)
[[gnu::target("avx512f")]] std::uint64_t or_of_bytes_avx512(const std::uint8_t* data,
                                                            std::size_t size) noexcept {
    return or_blocks<Block64>(data, size);
}

[[gnu::target("avx2")]] std::uint64_t or_of_bytes_avx2(const std::uint8_t* data,
                                                       std::size_t size) noexcept {
    return or_blocks<Block32>(data, size);
}
#endif

// The pass compiled for the widest vectors the CPU has, as memchr and qarvo's
// variants are, so that it stays a roof for haystacks that fit in cache too.
OrOfBytes widest_or_of_bytes() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
        return or_of_bytes_avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return or_of_bytes_avx2;
    }
#endif
    return or_of_bytes_baseline;
}

// The bandwidth roof: one read-only pass over the same bytes. The result
// escapes, so the loads cannot be dropped.
void run_roof(benchmark::State& state, std::span<const std::uint8_t> haystack) {
    const OrOfBytes or_of_bytes = widest_or_of_bytes();
    for (auto _ : state) {
        const std::uint8_t* h = haystack.data();
        benchmark::DoNotOptimize(h);
        benchmark::DoNotOptimize(or_of_bytes(h, haystack.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(haystack.size()));
}

std::string size_name(std::size_t n) {
    return "n=" + std::to_string(n);
}

// The needle as text, and for m >= 4 the share of haystack positions where its
// first, second and last bytes all match: the positions a filter on those
// three bytes lets through, each a false candidate since the needle is absent.
std::string describe(std::span<const std::uint8_t> needle, std::span<const std::uint8_t> text) {
    std::string d = "\"";
    for (const std::uint8_t c : needle) {
        d += c == '\n' ? std::string("\\n") : std::string(1, static_cast<char>(c));
    }
    d += "\"";
    const std::size_t m = needle.size();
    if (m >= 4) {
        std::size_t candidates = 0;
        for (std::size_t p = 0; p + m <= text.size(); ++p) {
            candidates +=
                static_cast<std::size_t>(text[p] == needle[0] && text[p + 1] == needle[1] &&
                                         text[p + m - 1] == needle[m - 1]);
        }
        char rate[64];
        std::snprintf(rate, sizeof rate, ", first/second/last bytes match at %.2f%% of positions",
                      100.0 * static_cast<double>(candidates) / static_cast<double>(text.size()));
        d += rate;
    }
    return d;
}

// What the registered benchmarks point at; it outlives them (kept by main).
struct Inputs {
    Language language;
    std::span<std::uint8_t> text;
    AlignedBytes text_storage;
    std::span<std::uint8_t> run;
    AlignedBytes run_storage;
    std::deque<std::vector<std::uint8_t>> needles;
    std::deque<std::vector<std::uint8_t>> run_needles;
    std::deque<Contender> contenders;
};

// The reverse cases and the counts (see the top of this file).
void register_reverse(Inputs& in) {
    const std::span<std::uint8_t> text = in.text;
    for (std::size_t k = 0; k < std::size(kNeedleLengths); ++k) {
        const std::size_t m = kNeedleLengths[k];
        const std::span<const std::uint8_t> needle = in.needles[k];
        for (const Contender& c : reverse_contenders_for(m)) {
            const Contender* contender = &in.contenders.emplace_back(c);
            for (const Case which : {Case::no_match, Case::match_at_end}) {
                for (const std::size_t n : kHaystackSizes) {
                    if (m > n) {
                        continue;
                    }
                    const std::string name =
                        std::string(which == Case::no_match ? "rfind_no_match"
                                                            : "rfind_match_at_start") +
                        "/m=" + std::to_string(m) + "/" + c.name + "/" + size_name(n);
                    benchmark::RegisterBenchmark(name.c_str(), run_search, text.first(n), needle,
                                                 which, contender, true);
                }
            }
        }
    }
    for (const Contender& c : count_contenders()) {
        const Contender* contender = &in.contenders.emplace_back(c);
        for (const std::size_t n : kHaystackSizes) {
            const std::string name = "count/m=1/" + c.name + "/" + size_name(n);
            benchmark::RegisterBenchmark(name.c_str(), run_count, text.first(n), kCountedByte,
                                         contender);
        }
    }
}

// "run/m=<m>/<contender>/n=<bytes>": the run needle, absent from the run.
void register_runs(Inputs& in) {
    for (const std::size_t m : kRunNeedleLengths) {
        const std::span<const std::uint8_t> needle =
            in.run_needles.emplace_back(make_run_needle(m));
        for (const Contender& c : contenders_for(m)) {
            const Contender* contender = &in.contenders.emplace_back(c);
            for (const std::size_t n : kRunSizes) {
                const std::string name =
                    "run/m=" + std::to_string(m) + "/" + c.name + "/" + size_name(n);
                benchmark::RegisterBenchmark(name.c_str(), run_search, in.run.first(n), needle,
                                             Case::no_match, contender, false);
            }
        }
    }
}

// The byte-set searches: "set/k=<members>/<contender>/n=<bytes>", a set of
// k bytes none of which the text holds (the whole haystack is scanned), for
// find_any and rfind_any of the public entry points and of each variant, and
// std::string_view::find_first_of beside them. kSetBytes are printable bytes
// outside the text's alphabet; a set of k takes the first k.
constexpr std::string_view kSetBytes =
    "|<>&\"'#@ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!$%()*+-/:;=?[]^_`{}";
static_assert(kSetBytes.size() == 64);
constexpr std::size_t kSetSizes[] = {1, 2, 3, 4, 8, 16, 64};
constexpr std::size_t kSetHaystackSizes[] = {std::size_t{64}, std::size_t{4} << 10,
                                             std::size_t{1} << 20, std::size_t{64} << 20};

enum class SetSearch { find_any, rfind_any };

// The sets of the window rows, "set/first_window/k=<members>/..." and
// "set/window/k=<members>/...": members within
// 64 consecutive byte values that the text never holds, which the bit
// lookup of a set extension tests (SetOps::kWindow): punctuation and digits
// below 0x40, then the capitals and the signs beside them from 0x40.
constexpr std::string_view kFirstWindowBytes = "<>&\"'#!$%()*+-/:;=?0123456789";
constexpr std::string_view kWindowBytes = "ABCDEFGHIJKLMNOPQRSTUVWXYZ@[]^_";
constexpr std::size_t kWindowSetSizes[] = {4, 16};

void run_set_search(benchmark::State& state, std::span<const std::uint8_t> haystack,
                    std::string_view members, SetSearch which,
                    const qarvo::SearchRoutines* variant) {
    const qarvo::ByteSet set =
        qarvo::ByteSet::of({reinterpret_cast<const std::uint8_t*>(members.data()), members.size()});
    auto search = [&](const std::uint8_t* h) {
        const qarvo::ByteRange range{h, haystack.size()};
        if (which == SetSearch::find_any) {
            return variant != nullptr ? variant->find_any(range, set) : qarvo::find_any(range, set);
        }
        return variant != nullptr ? variant->rfind_any(range, set) : qarvo::rfind_any(range, set);
    };
    if (search(haystack.data()).found()) {
        state.SkipWithError("wrong result");
        return;
    }
    for (auto _ : state) {
        const std::uint8_t* h = haystack.data();
        benchmark::DoNotOptimize(h);
        benchmark::DoNotOptimize(search(h));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(haystack.size()));
}

void run_find_first_of(benchmark::State& state, std::span<const std::uint8_t> haystack,
                       std::string_view members) {
    for (auto _ : state) {
        const std::uint8_t* h = haystack.data();
        benchmark::DoNotOptimize(h);
        const std::string_view text(reinterpret_cast<const char*>(h), haystack.size());
        benchmark::DoNotOptimize(text.find_first_of(members));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(haystack.size()));
}

// The rows of one set: find_first_of, then find_any and rfind_any of the
// public entry points and of each variant, at every size.
void register_set(Inputs& in, const std::string& prefix, std::string_view members) {
    for (const std::size_t n : kSetHaystackSizes) {
        const std::span<const std::uint8_t> haystack = in.text.first(n);
        const std::string suffix = "/" + size_name(n);
        benchmark::RegisterBenchmark((prefix + "find_first_of" + suffix).c_str(), run_find_first_of,
                                     haystack, members);
        for (const SetSearch which : {SetSearch::find_any, SetSearch::rfind_any}) {
            const std::string routine = which == SetSearch::find_any ? "find_any" : "rfind_any";
            benchmark::RegisterBenchmark((prefix + "qarvo." + routine + suffix).c_str(),
                                         run_set_search, haystack, members, which, nullptr);
            for (const qarvo::Backend b : qarvo::supported_backends()) {
                benchmark::RegisterBenchmark(
                    (prefix + "qarvo." + std::string(qarvo::backend_name(b)) + "." + routine +
                     suffix)
                        .c_str(),
                    run_set_search, haystack, members, which, qarvo::routines_for(b));
            }
        }
    }
}

void register_sets(Inputs& in) {
    for (const std::size_t k : kSetSizes) {
        register_set(in, "set/k=" + std::to_string(k) + "/", kSetBytes.substr(0, k));
    }
    for (const std::size_t k : kWindowSetSizes) {
        register_set(in, "set/first_window/k=" + std::to_string(k) + "/",
                     kFirstWindowBytes.substr(0, k));
        register_set(in, "set/window/k=" + std::to_string(k) + "/", kWindowBytes.substr(0, k));
    }
}

void register_all(Inputs& in) {
    const std::span<std::uint8_t> text = in.text;
    for (const std::size_t n : kHaystackSizes) {
        benchmark::RegisterBenchmark(("roof/" + size_name(n)).c_str(), run_roof, text.first(n));
    }
    for (const std::size_t m : kNeedleLengths) {
        const std::span<const std::uint8_t> needle =
            in.needles.emplace_back(make_needle(in.language, m));
        for (const Contender& c : contenders_for(m)) {
            const Contender* contender = &in.contenders.emplace_back(c);
            for (const Case which : {Case::no_match, Case::match_at_end, Case::match_early}) {
                for (const std::size_t n : kHaystackSizes) {
                    if (m > n || (which == Case::match_early && n < kEarlyFrom)) {
                        continue;  // no room for the needle; early is early only in long ones
                    }
                    const std::string name = std::string(case_name(which)) +
                                             "/m=" + std::to_string(m) + "/" + c.name + "/" +
                                             size_name(n);
                    benchmark::RegisterBenchmark(name.c_str(), run_search, text.first(n), needle,
                                                 which, contender, false);
                }
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    Inputs inputs;
    const std::size_t largest = kHaystackSizes[std::size(kHaystackSizes) - 1];
    inputs.text_storage = aligned_bytes(largest);
    inputs.text = {inputs.text_storage.get(), largest};
    inputs.language.write(inputs.text, 0x7172'7661'6f00ULL);
    register_all(inputs);
    register_sets(inputs);
    register_reverse(inputs);
    const std::size_t longest_run = kRunSizes[std::size(kRunSizes) - 1];
    inputs.run_storage = aligned_bytes(longest_run);
    inputs.run = {inputs.run_storage.get(), longest_run};
    std::fill(inputs.run.begin(), inputs.run.end(), kRunByte);
    register_runs(inputs);

    std::string variants;
    for (const qarvo::Backend b : qarvo::supported_backends()) {
        variants += (variants.empty() ? "" : ",") + std::string(qarvo::backend_name(b));
    }
    benchmark::AddCustomContext("qarvo_variants", variants);
    benchmark::AddCustomContext("qarvo_active",
                                std::string(qarvo::backend_name(qarvo::active_routines().backend)));
    benchmark::AddCustomContext("haystack", "pseudo-English, lower case, seeded, page-aligned");
    benchmark::AddCustomContext("run",
                                "haystack: 'z' repeated; needle: 'z' repeated, 'e' at m - 3");
    for (const std::vector<std::uint8_t>& needle : inputs.needles) {
        benchmark::AddCustomContext("needle_m=" + std::to_string(needle.size()),
                                    describe(needle, inputs.text));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
