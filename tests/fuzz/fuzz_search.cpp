// libFuzzer target: every routine of every supported variant against the
// naive scan, on a haystack and a needle cut from the fuzzer's input (the
// byte-set searches with the needle's bytes as the set).
//
// Each forward routine is checked beside its reverse one (rfind_*, against
// the naive scan from the end) and count_one (against a naive count); a
// needle of 2 to 16 bytes also with find_starts and count_starts; and the
// case-insensitive find_folded and rfind_folded (against the naive scans of
// both lowered); and MultiScan on needles cut from the needle.
//
// Input layout: byte 0 is the needle length (modulo what is left), then the
// needle, then the haystack. Both are copied into heap blocks of exactly
// their size, so AddressSanitizer sees a read past either end of either one.
//
// Inputs stay short (a few KiB), but the wide variants change course at 4
// KiB, 16 KiB and 256 KiB. Built with QARVO_FUZZ_LONG (fuzz_search_long),
// the target searches each input stretched instead: its haystack repeated to
// a length its last byte picks, up to 300 KiB, against either its needle or a
// needle cut from the stretched haystack that leaves it up to a thousand
// windows, with one byte changed or not (the shapes whose filters' last
// steps end next to the haystack's end), with find_n and rfind_n alone: under the
// sanitizers each stretched input costs milliseconds, a short one
// microseconds, so the two run as separate targets.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "naive.hpp"
#include "qarvo/backend.hpp"
#include "qarvo/multi.hpp"
#include "qarvo/search.hpp"
#include "variants.hpp"

namespace {

using qarvo::ByteRange;
using qarvo::SearchResult;

// An exact-size heap copy (no allocation at all for an empty range, so the
// routines also see the null data pointer of an empty range).
struct ExactCopy {
    std::unique_ptr<std::uint8_t[]> storage;
    std::size_t size = 0;

    explicit ExactCopy(std::span<const std::uint8_t> bytes) : size(bytes.size()) {
        if (size != 0) {
            storage = std::make_unique<std::uint8_t[]>(size);
            std::memcpy(storage.get(), bytes.data(), size);
        }
    }
    ByteRange range() const { return ByteRange{storage.get(), size}; }
    std::span<const std::uint8_t> span() const { return {storage.get(), size}; }
};

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// The naive scan, for the long haystacks: each window that starts with the
// needle's first byte (found by memchr) compared by memcmp. The byte-by-byte
// loop took the sanitized build tens of milliseconds per stretched input.
SearchResult windows_compared(std::span<const std::uint8_t> haystack,
                              std::span<const std::uint8_t> needle) {
    const std::size_t m = needle.size();
    if (m == 0 || m > haystack.size()) {
        return qarvo::test::naive_find(haystack, needle);
    }
    const std::uint8_t* const begin = haystack.data();
    const std::uint8_t* const last_start = begin + (haystack.size() - m);
    for (const std::uint8_t* p = begin; p <= last_start; ++p) {
        p = static_cast<const std::uint8_t*>(
            std::memchr(p, needle[0], static_cast<std::size_t>(last_start - p) + 1));
        if (p == nullptr) {
            break;
        }
        if (std::memcmp(p, needle.data(), m) == 0) {
            return SearchResult::at(static_cast<std::size_t>(p - begin));
        }
    }
    return SearchResult::not_found();
}

// The bytes with their ASCII capitals lower-cased: the case-insensitive
// routines answer as the plain scans of both ranges lowered.
std::vector<std::uint8_t> lowered(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
    for (std::uint8_t& b : out) {
        if (b >= 'A' && b <= 'Z') {
            b = static_cast<std::uint8_t>(b + ('a' - 'A'));
        }
    }
    return out;
}

#ifdef QARVO_FUZZ_LONG
// The naive scan from the end, for the long haystacks: memrchr for the
// needle's first byte, then memcmp.
SearchResult windows_compared_last(std::span<const std::uint8_t> haystack,
                                   std::span<const std::uint8_t> needle) {
    const std::size_t m = needle.size();
    if (m == 0 || m > haystack.size()) {
        return qarvo::test::naive_rfind(haystack, needle);
    }
    const std::uint8_t* const begin = haystack.data();
    std::size_t windows = haystack.size() - m + 1;
    while (windows > 0) {
        const void* hit = memrchr(begin, needle[0], windows);
        if (hit == nullptr) {
            break;
        }
        const auto* p = static_cast<const std::uint8_t*>(hit);
        if (std::memcmp(p, needle.data(), m) == 0) {
            return SearchResult::at(static_cast<std::size_t>(p - begin));
        }
        windows = static_cast<std::size_t>(p - begin);
    }
    return SearchResult::not_found();
}
#endif

// The routine tables to check: every supported variant's, with its byte-set
// extension where the CPU runs one (set_extensions.cpp), and every route of
// two of them (routines_handing_over, halves.cpp: one variant's find_n
// handing long haystacks to another's ranked search), among them the one
// AMD's Zen 4 runs by default, whichever CPU this is.
std::vector<const qarvo::SearchRoutines*> tables() {
    std::vector<const qarvo::SearchRoutines*> out;
    for (const qarvo::Backend backend : qarvo::supported_backends()) {
        const qarvo::SearchRoutines* r = qarvo::routines_for(backend);
        check(r != nullptr);
        out.push_back(r);
        if (const qarvo::SearchRoutines* extended =
                qarvo::detail::routines_with_set_extension(backend)) {
            out.push_back(extended);
        }
    }
    for (const qarvo::Backend wide : qarvo::supported_backends()) {
        for (const qarvo::Backend half : qarvo::supported_backends()) {
            if (const qarvo::SearchRoutines* r = qarvo::detail::routines_handing_over(wide, half)) {
                out.push_back(r);
            }
        }
    }
    return out;
}

// The tables, made once.
const std::vector<const qarvo::SearchRoutines*>& routine_tables() {
    static const std::vector<const qarvo::SearchRoutines*> all = tables();
    return all;
}

#ifndef QARVO_FUZZ_LONG
// The first (last, when `backwards`) offset whose byte's membership in `set`
// is `in`.
SearchResult scan_for(std::span<const std::uint8_t> haystack, const qarvo::ByteSet& set, bool in,
                      bool backwards) {
    const std::size_t n = haystack.size();
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = backwards ? n - 1 - k : k;
        if (set.contains(haystack[i]) == in) {
            return SearchResult::at(i);
        }
    }
    return SearchResult::not_found();
}

// The byte-set routines of every table, the set being the needle's bytes:
// up to 256 members, or with the needle's first byte as a count, the bytes
// below it too (sets of any size from few needle bytes).
void check_sets(const ExactCopy& haystack, const ExactCopy& needle) {
    qarvo::ByteSet set = qarvo::ByteSet::of(needle.range());
    if (needle.size >= 2 && needle.storage[1] < 8) {
        for (unsigned b = 0; b < needle.storage[0]; ++b) {
            set.add(static_cast<std::uint8_t>(b));
        }
    }
    const SearchResult expected[4] = {
        scan_for(haystack.span(), set, true, false), scan_for(haystack.span(), set, true, true),
        scan_for(haystack.span(), set, false, false), scan_for(haystack.span(), set, false, true)};
    for (const qarvo::SearchRoutines* r : routine_tables()) {
        check(r->find_any(haystack.range(), set) == expected[0]);
        check(r->rfind_any(haystack.range(), set) == expected[1]);
        check(r->find_not_any(haystack.range(), set) == expected[2]);
        check(r->rfind_not_any(haystack.range(), set) == expected[3]);
    }
}

// find_starts and count_starts of a needle of 2 to kShortNeedleMax bytes,
// every start and the greedy non-overlapping ones, in batches of three,
// against the needle compared at every offset.
void check_starts(const ExactCopy& haystack, const ExactCopy& needle) {
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    if (m < 2 || m > qarvo::kShortNeedleMax) {
        return;
    }
    for (const std::size_t step : {std::size_t{1}, m}) {
        std::vector<std::uint64_t> expected;
        for (std::size_t p = 0; m <= n && p <= n - m;) {
            const bool match =
                std::memcmp(haystack.storage.get() + p, needle.storage.get(), m) == 0;
            if (match) {
                expected.push_back(p);
            }
            p += match ? step : 1;
        }
        for (const qarvo::SearchRoutines* r : routine_tables()) {
            qarvo::StartsCursor counter{0, step};
            check(r->count_starts(haystack.range(), needle.range(), counter) == expected.size());
            qarvo::StartsCursor cursor{0, step};
            std::vector<std::uint64_t> got;
            std::uint64_t batch[3];
            for (std::size_t calls = 0; calls <= expected.size(); ++calls) {
                const std::size_t wrote = r->find_starts(haystack.range(), needle.range(), cursor,
                                                         std::span<std::uint64_t>(batch));
                got.insert(got.end(), batch, batch + wrote);
                if (wrote < 3) {
                    break;
                }
            }
            check(got == expected);
        }
    }
}

// find_folded and rfind_folded of every table against the naive scans of
// the lowered haystack and needle.
void check_folded(const ExactCopy& haystack, const ExactCopy& needle) {
    const std::vector<std::uint8_t> h = lowered(haystack.span());
    const std::vector<std::uint8_t> x = lowered(needle.span());
    const SearchResult first = qarvo::test::naive_find(h, x);
    const SearchResult last = qarvo::test::naive_rfind(h, x);
    for (const qarvo::SearchRoutines* r : routine_tables()) {
        check(r->find_folded(haystack.range(), needle.range()) == first);
        check(r->rfind_folded(haystack.range(), needle.range()) == last);
    }
}

// MultiScan on the needle cut into up to twelve needles (cut where its
// bytes are below 4, so empty needles, duplicates and shared prefixes come
// often; more than eight take the four-byte bucket filter, its short
// needles' buckets and the heads' sift), with every table's byte-set search
// and bucket and stride filters, against
// re's alternation done plainly: at each offset the first needle listed
// that occurs there; after an empty match the same offset again, wanting
// a non-empty one.
void check_multi(const ExactCopy& haystack, const ExactCopy& needle) {
    std::vector<ByteRange> needles;
    std::size_t begin = 0;
    for (std::size_t k = 0; k <= needle.size && needles.size() < 12; ++k) {
        if (k == needle.size || needle.storage[k] < 4) {
            needles.push_back(ByteRange{needle.storage.get() + begin, k - begin});
            begin = k + 1;
        }
    }
    const std::span<const std::uint8_t> h = haystack.span();
    std::vector<std::uint64_t> expected;
    std::vector<std::uint32_t> expected_index;
    bool must_advance = false;
    for (std::size_t p = 0; p <= h.size();) {
        bool matched = false;
        for (std::size_t i = 0; i < needles.size() && !matched; ++i) {
            const ByteRange n = needles[i];
            if ((must_advance && n.size == 0) || n.size > h.size() - p ||
                (n.size != 0 && std::memcmp(h.data() + p, n.data, n.size) != 0)) {
                continue;
            }
            expected.push_back(p);
            expected_index.push_back(static_cast<std::uint32_t>(i));
            must_advance = n.size == 0;
            p += n.size;
            matched = true;
        }
        if (!matched) {
            must_advance = false;
            ++p;
        }
    }
    const std::size_t bytes = qarvo::multi_bytes_needed(needles);
    const auto memory = std::make_unique<std::max_align_t[]>(bytes / sizeof(std::max_align_t) + 1);
    const qarvo::MultiAutomaton* automaton =
        qarvo::multi_build(memory.get(), bytes, needles, false);
    check(automaton != nullptr);
    std::vector<std::uint64_t> offsets(expected.size() + 1);
    std::vector<std::uint32_t> indices(expected.size() + 1);
    for (const qarvo::SearchRoutines* r : routine_tables()) {
        qarvo::MultiScan scan(*automaton, haystack.range(), r->find_any, r->find_bucket_hits,
                              r->find_stride_hits, r->find_n, r->find_folded);
        const std::size_t got = scan.next_batch(offsets, indices);
        check(got == expected.size() && scan.done());
        check(std::equal(expected.begin(), expected.end(), offsets.begin()));
        check(std::equal(expected_index.begin(), expected_index.end(), indices.begin()));
    }
}

// Every routine of every table on the haystack and needle, against the naive
// scan.
void check_all(const ExactCopy& haystack, const ExactCopy& needle) {
    const std::vector<const qarvo::SearchRoutines*>& all = routine_tables();
    const std::size_t m = needle.size;
    // The naive answers for the whole needle and its first one to three bytes.
    SearchResult expected[4] = {SearchResult::not_found(), SearchResult::not_found(),
                                SearchResult::not_found(), SearchResult::not_found()};
    for (std::size_t k = 0; k < 4 && k <= m; ++k) {
        expected[k] =
            windows_compared(haystack.span(), k == 0 ? needle.span() : needle.span().first(k));
    }
    // The same from the end, and the count of the needle's first byte.
    SearchResult last[4] = {SearchResult::not_found(), SearchResult::not_found(),
                            SearchResult::not_found(), SearchResult::not_found()};
    for (std::size_t k = 0; k < 4 && k <= m; ++k) {
        last[k] = qarvo::test::naive_rfind(haystack.span(),
                                           k == 0 ? needle.span() : needle.span().first(k));
    }
    const std::size_t count =
        m >= 1 ? qarvo::test::naive_count(haystack.span(), needle.span()[0]) : 0;
    const std::uint8_t* n = needle.storage.get();
    for (const qarvo::SearchRoutines* r : all) {
        check(r->find_n(haystack.range(), needle.range()) == expected[0]);
        check(r->rfind_n(haystack.range(), needle.range()) == last[0]);
        if (m >= 1) {
            check(r->rfind_one(haystack.range(), n[0]) == last[1]);
            check(r->count_one(haystack.range(), n[0]) == count);
        }
        if (m >= 2) {
            check(r->rfind_two(haystack.range(), n[0], n[1]) == last[2]);
        }
        if (m >= 3) {
            check(r->rfind_three(haystack.range(), n[0], n[1], n[2]) == last[3]);
        }
        // The short routines on the needle's first one, two and three bytes.
        if (m >= 1) {
            check(r->find_one(haystack.range(), n[0]) == expected[1]);
        }
        if (m >= 2) {
            check(r->find_two(haystack.range(), n[0], n[1]) == expected[2]);
        }
        if (m >= 3) {
            check(r->find_three(haystack.range(), n[0], n[1], n[2]) == expected[3]);
        }
    }
    check_sets(haystack, needle);
    check_starts(haystack, needle);
    check_folded(haystack, needle);
    check_multi(haystack, needle);
}
#else
// The lengths a stretched haystack takes: just past the sizes at which the
// wide variants change course, and one well past the last.
constexpr std::size_t kStretchedLengths[8] = {4100,  8200,   16390,  17000,
                                              33000, 100000, 262200, 300000};

// The input's haystack repeated to a length picked by `control`; its needle,
// or one cut from the stretched haystack leaving `windows` windows, with the
// byte at `flip` (modulo its length) changed when `control` says so.
void check_stretched(std::span<const std::uint8_t> haystack, std::span<const std::uint8_t> needle,
                     std::uint8_t control, std::size_t windows, std::size_t flip) {
    if (haystack.empty()) {
        return;
    }
    const std::size_t n = kStretchedLengths[control % 8];
    std::vector<std::uint8_t> stretched(n);
    for (std::size_t k = 0; k < n; k += haystack.size()) {
        std::memcpy(stretched.data() + k, haystack.data(), std::min(haystack.size(), n - k));
    }
    std::vector<std::uint8_t> cut(needle.begin(), needle.end());
    if ((control & 8) != 0 && windows < n) {
        const std::size_t m = n - windows + 1;
        const std::size_t from = flip % windows;
        cut.assign(stretched.begin() + static_cast<std::ptrdiff_t>(from),
                   stretched.begin() + static_cast<std::ptrdiff_t>(from + m));
        if ((control & 16) != 0) {
            cut[flip % m] ^= 0x20;
        }
    }
    // find_n alone: the short routines' long loops are the ones the short
    // inputs already reach, and each routine searched costs the whole
    // stretched haystack under the sanitizers.
    const ExactCopy long_haystack(stretched);
    const ExactCopy long_needle(cut);
    const SearchResult expected = windows_compared(long_haystack.span(), long_needle.span());
    const SearchResult last = windows_compared_last(long_haystack.span(), long_needle.span());
    // Ignoring case (the flipped byte above is then a letter's other case
    // half of the time: a match), against the scans of both lowered.
    const std::vector<std::uint8_t> low_haystack = lowered(long_haystack.span());
    const std::vector<std::uint8_t> low_needle = lowered(long_needle.span());
    const SearchResult folded = windows_compared(low_haystack, low_needle);
    const SearchResult folded_last = windows_compared_last(low_haystack, low_needle);
    for (const qarvo::SearchRoutines* r : routine_tables()) {
        check(r->find_n(long_haystack.range(), long_needle.range()) == expected);
        check(r->rfind_n(long_haystack.range(), long_needle.range()) == last);
        check(r->find_folded(long_haystack.range(), long_needle.range()) == folded);
        check(r->rfind_folded(long_haystack.range(), long_needle.range()) == folded_last);
    }
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t rest = size - 1;
    const std::size_t m = rest == 0 ? 0 : data[0] % (rest + 1);
    const ExactCopy needle(std::span<const std::uint8_t>(data + 1, m));
    const ExactCopy haystack(std::span<const std::uint8_t>(data + 1 + m, rest - m));

#ifndef QARVO_FUZZ_LONG
    check_all(haystack, needle);
#else
    if (size >= 3) {
        check_stretched(haystack.span(), needle.span(), data[size - 1],
                        std::size_t{data[size - 2]} * 4 + 1, std::size_t{data[size - 3]} * 997);
    }
#endif
    return 0;
}
