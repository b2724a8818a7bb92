// find_folded and rfind_folded: the first (last) offset p where the needle
// occurs in the haystack with ASCII letters matching either case (fold.hpp).
// One template for both directions, as the byte-set searches (any.hpp).
//
// A one-byte needle is the byte-set search of the byte and its other case
// (search_set; one member for a non-letter). Longer needles are filtered:
// two needle bytes, the rarest by the byte-rank table once folded (a
// letter ranks as its lower case, the more common one in text), are tested
// at every window, a letter anchor as "either case" (an OR of 0x20 and a
// compare), any other byte exactly. When the two prove weak in this haystack
// (false alarms), or after the first kRankedPrefix bytes of a long one, the
// anchors are chosen again from counts of a sample of the haystack with
// letters folded, and one to three of them are tested from there on
// (folded_blocks). So every occurrence is a candidate. Candidates are
// compared in full, lowest window first (highest, from the end), against
// the needle's first bytes folded into two words once per call (FoldedNeedle).
//
// Worst case: the bytes compared are counted (VerifyBudget, as find_n's);
// once they exceed a fixed multiple of the distance covered, the rest goes
// to Two-Way over the folded bytes (two_way_search_folded and
// two_way_search_last_folded, worst_case.hpp), so every search is O(n + m).
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "any.hpp"
#include "byte_rank.hpp"
#include "filter_policy.hpp"
#include "fold.hpp"
#include "n_filter_choice.hpp"
#include "n_verify.hpp"
#include "probe.hpp"
#include "qarvo/search.hpp"
#include "rare_bytes.hpp"
#include "vector.hpp"
#include "worst_case.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// Each byte's rank (byte_rank.hpp) once folded: a letter ranks as its lower
// case, the more common one in text, which is what a filter that takes
// either case lets through.
inline constexpr ByteRanks kFoldedRank = [] {
    ByteRanks ranks{};
    for (unsigned b = 0; b < 256; ++b) {
        ranks.of[b] = kByteRank.of[kFolded.of[b]];
    }
    return ranks;
}();

// 0x20 in each byte of `word` that is an ASCII letter, 0 in the others,
// eight bytes at a time: a byte is a letter when, with 0x20 set, it lies in
// 'a' to 'z' and below 0x80. Adding 0x80 - 'a' (and 0x80 - '{') to its low
// seven bits carries into the top bit exactly when it reaches 'a' (or
// passes 'z'), and no carry crosses into the next byte. Replaces a table
// lookup per byte, a tenth of a 1 KiB search (`chinese` of
// compare_ignore_case.py at 1 KiB).
[[gnu::always_inline]] constexpr std::uint64_t letter_bits(std::uint64_t word) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHigh = 0x80 * kOnes;
    const std::uint64_t cased = word | 0x20 * kOnes;
    const std::uint64_t low = cased & ~kHigh;
    const std::uint64_t from_a = low + (0x80 - 'a') * kOnes;
    const std::uint64_t past_z = low + (0x80 - 'z' - 1) * kOnes;
    return (from_a & ~past_z & ~cased & kHigh) >> 2;
}

// Every byte value, in every position of a word of otherwise other bytes.
static_assert([] {
    for (unsigned b = 0; b < 256; ++b) {
        for (unsigned at = 0; at < 8; ++at) {
            const std::uint64_t filler = 0x7B5A40605B7A41FF;  // '{' 'Z' '@' '`' '[' 'z' 'A' 0xFF
            const std::uint64_t word =
                (filler & ~(std::uint64_t{0xFF} << 8 * at)) | std::uint64_t{b} << 8 * at;
            std::uint64_t want = 0;
            for (unsigned k = 0; k < 8; ++k) {
                want |=
                    std::uint64_t{is_ascii_letter(static_cast<std::uint8_t>(word >> 8 * k)) ? 0x20u
                                                                                            : 0u}
                    << 8 * k;
            }
            if (letter_bits(word) != want) {
                return false;
            }
        }
    }
    return true;
}());

// A needle prepared for folded comparisons: its first bytes as two words,
// each with its letters lower-cased (`lower`) and a 0x20 in each letter's
// byte (`letters`), so that a window word x agrees with the needle there
// exactly when (x | letters) == lower: for a letter, x is either case of
// it; for any other byte, x is that byte. `at` are the words' offsets: 0
// and min(8, m - 8) for m >= 8 (8-byte words), 0 and m - 4 for m from 4 to
// 7 (4-byte words); shorter needles are compared byte by byte. Bytes from
// 16 on are compared through the table. Built once per call, on the stack.
struct FoldedNeedle {
    ByteRange bytes;
    std::uint64_t lower[2] = {};
    std::uint64_t letters[2] = {};
    std::size_t at[2] = {};
    // The anchors the filter tests, rarest first: two by rank, and one to
    // three once chosen again by counts (counted()).
    std::size_t anchor[3] = {};
    std::size_t ranked_end = 0;  // ranked from bytes 0 .. ranked_end - 1 and the last

    static FoldedNeedle of(ByteRange needle, std::size_t scan_limit) noexcept {
        FoldedNeedle f;
        f.bytes = needle;
        const std::size_t m = needle.size;
        assert(m >= 2);
        if (m >= 4) {
            const std::size_t width = m >= 8 ? 8 : 4;
            f.at[1] = m >= 16 ? 8 : m - width;
            // Each word loaded as the window's bytes will be (so in the
            // same byte order), its letters found eight at a time.
            for (std::size_t w = 0; w < 2; ++w) {
                std::uint64_t word = 0;
                if (width == 8) {
                    std::memcpy(&word, needle.data + f.at[w], 8);
                } else {
                    std::uint32_t half;
                    std::memcpy(&half, needle.data + f.at[w], 4);
                    word = half;
                }
                f.letters[w] = letter_bits(word);
                f.lower[w] = word | f.letters[w];
            }
        }
        // The anchors: by folded rank, the two rarest of the first
        // scan_limit bytes and the last one (the lower offset among equal
        // ranks). A plain scan for two: rarest_offsets' network for four
        // cost the short rows of compare_ignore_case.py a third of their
        // time.
        const auto rank = [&](std::size_t k) { return kFoldedRank.of[needle.data[k]]; };
        std::size_t first = 0;
        std::size_t second = 1;
        std::uint8_t first_rank = rank(0);
        std::uint8_t second_rank = rank(1);
        if (second_rank < first_rank) {
            first = 1;
            second = 0;
            second_rank = first_rank;
            first_rank = rank(1);
        }
        // The kept ranks in registers: looked up again through the kept
        // offsets, each step waited for the last.
        const auto consider = [&](std::size_t k) {
            const std::uint8_t r = rank(k);
            if (r < first_rank) {
                second = first;
                second_rank = first_rank;
                first = k;
                first_rank = r;
            } else if (r < second_rank) {
                second = k;
                second_rank = r;
            }
        };
        const std::size_t end = m < scan_limit ? m : scan_limit;
        for (std::size_t k = 2; k < end; ++k) {
            consider(k);
        }
        if (end < m) {
            consider(m - 1);
        }
        f.anchor[0] = first;
        f.anchor[1] = second;
        f.ranked_end = end;
        return f;
    }

    // This needle with a third anchor by rank: the rarest by folded rank of
    // the bytes the first two were chosen from, other than those two.
    // Precondition: m >= 3.
    FoldedNeedle widened() const noexcept {
        assert(bytes.size >= 3);
        FoldedNeedle f = *this;
        std::size_t third = bytes.size;
        std::uint8_t third_rank = 0xFF;
        const auto consider = [&](std::size_t k) {
            const std::uint8_t r = kFoldedRank.of[bytes.data[k]];
            if (k != anchor[0] && k != anchor[1] && (third == bytes.size || r < third_rank)) {
                third = k;
                third_rank = r;
            }
        };
        for (std::size_t k = 0; k < ranked_end; ++k) {
            consider(k);
        }
        consider(bytes.size - 1);
        f.anchor[2] = third;
        return f;
    }

    // This needle with its anchors chosen again by the counts of a sample
    // of the haystack (`counts`, letters folded: folded_counts), ties broken
    // by folded rank: the rarest three of every needle byte, since the
    // ranked choice has met data on which it is weak. Precondition: m >= 4.
    FoldedNeedle counted(const ByteCounts& counts) const noexcept {
        assert(bytes.size >= 4);
        FoldedNeedle f = *this;
        const RareOffsets rarest =
            rarest_offsets(bytes, bytes.size, [&counts](std::uint8_t b) noexcept -> std::uint32_t {
                return std::uint32_t{counts.of[b]} << 8 | kFoldedRank.of[b];
            });
        for (std::size_t k = 0; k < 3; ++k) {
            f.anchor[k] = rarest.at[k];
        }
        return f;
    }
};

// Whether the m bytes at `window` equal the needle with letters folded.
// Precondition: the m bytes at `window` are inside the haystack.
[[gnu::always_inline]] inline bool equal_window_folded(const std::uint8_t* window,
                                                       const FoldedNeedle& f) noexcept {
    const std::size_t m = f.bytes.size;
    QARVO_PROBE_COMPARED(m);
    if (m < 4) {
        return equal_folded_bytes(window, f.bytes.data, m);
    }
    if (m < 8) {
        std::uint32_t a;
        std::uint32_t b;
        std::memcpy(&a, window, sizeof a);
        std::memcpy(&b, window + f.at[1], sizeof b);
        return (a | static_cast<std::uint32_t>(f.letters[0])) ==
                   static_cast<std::uint32_t>(f.lower[0]) &&
               (b | static_cast<std::uint32_t>(f.letters[1])) ==
                   static_cast<std::uint32_t>(f.lower[1]);
    }
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, window, sizeof a);
    std::memcpy(&b, window + f.at[1], sizeof b);
    if ((a | f.letters[0]) != f.lower[0] || (b | f.letters[1]) != f.lower[1]) {
        return false;
    }
    return m <= 16 || equal_folded_bytes(window + 16, f.bytes.data + 16, m - 16);
}

// The first K anchors splat into vectors of the type T: each byte
// lower-cased, and 0x20 for a letter (0 for any other byte), so that a lane
// x passes where (x | fold) == lower: for a letter, either case and nothing
// else (the bytes that differ from a letter in the 0x20 bit alone are its
// other case); for any other byte, that byte. One OR and one compare per
// anchor, where comparing with both cases costs two compares and an OR of
// the masks.
template <class T, std::size_t K>
struct FoldedAnchors {
    std::size_t offset[K];
    typename T::Vec lower[K];
    typename T::Vec fold[K];

    static FoldedAnchors of(const FoldedNeedle& f) noexcept {
        FoldedAnchors a;
        for (std::size_t k = 0; k < K; ++k) {
            const std::uint8_t b = f.bytes.data[f.anchor[k]];
            a.offset[k] = f.anchor[k];
            a.lower[k] = T::splat(kFolded.of[b]);
            a.fold[k] = T::splat(is_ascii_letter(b) ? 0x20 : 0);
        }
        return a;
    }

    // Lanes of the block at b whose windows pass every anchor.
    // Precondition: b + W + m - 1 <= n.
    [[gnu::always_inline]] typename T::Mask at_block(const std::uint8_t* data, std::size_t n,
                                                     std::size_t b) const noexcept {
        typename T::Mask c = passes(data, n, b, 0);
        for (std::size_t k = 1; k < K; ++k) {
            c = T::and_(c, passes(data, n, b, k));
        }
        return c;
    }

    // The lanes of the four blocks from b on that pass every anchor, into
    // c; whether any does. With byte differences (has_byte_diff), two or
    // three anchors are tested as (x | fold) ^ lower, ORed: zero where every
    // anchor passes, and four blocks folded into one vector and one mask, as
    // find_n's wide steps do and for the same reason (mask compares, ANDs
    // and ORs cost more than vector operations on Zen 4: `python` and
    // `chinese` of compare_ignore_case.py --sustained). One anchor keeps
    // its compare. Precondition: b + 4W + m - 1 <= n.
    [[gnu::always_inline]] bool at_four_blocks(const std::uint8_t* data, std::size_t n,
                                               std::size_t b,
                                               typename T::Mask (&c)[4]) const noexcept {
        constexpr std::size_t W = T::kWidth;
        if constexpr (has_byte_diff<T> && K >= 2) {
            const typename T::Vec d0 = diff_at_block(data, n, b);
            const typename T::Vec d1 = diff_at_block(data, n, b + W);
            const typename T::Vec d2 = diff_at_block(data, n, b + 2 * W);
            const typename T::Vec d3 = diff_at_block(data, n, b + 3 * W);
            if (!T::any(T::zero_lanes(T::min_diff(T::min_diff(d0, d1), T::min_diff(d2, d3)))))
                [[likely]] {
                return false;
            }
            c[0] = T::zero_lanes(d0);
            c[1] = T::zero_lanes(d1);
            c[2] = T::zero_lanes(d2);
            c[3] = T::zero_lanes(d3);
            return true;
        } else {
            for (std::size_t k = 0; k < 4; ++k) {
                c[k] = at_block(data, n, b + k * W);
            }
            return any_of_four<T>(c[0], c[1], c[2], c[3]);
        }
    }

private:
    [[gnu::always_inline]] typename T::Vec folded_load(const std::uint8_t* data, std::size_t n,
                                                       std::size_t b,
                                                       std::size_t k) const noexcept {
        return T::bits_or(load_at<T>(data, n, b + offset[k]), fold[k]);
    }

    [[gnu::always_inline]] typename T::Mask passes(const std::uint8_t* data, std::size_t n,
                                                   std::size_t b, std::size_t k) const noexcept {
        return T::eq(folded_load(data, n, b, k), lower[k]);
    }

    // Zero in the lanes of the block at b that pass every anchor.
    [[gnu::always_inline]] typename T::Vec diff_at_block(const std::uint8_t* data, std::size_t n,
                                                         std::size_t b) const noexcept {
        typename T::Vec d = T::diff(folded_load(data, n, b, 0), lower[0]);
        for (std::size_t k = 1; k < K; ++k) {
            d = T::bits_or(d, T::diff(folded_load(data, n, b, k), lower[k]));
        }
        return d;
    }
};

// The counts of a sample of the haystack with letters folded: each letter's
// count is that of both its cases.
inline ByteCounts folded_counts(ByteCounts counts) noexcept {
    for (unsigned b = 'a'; b <= 'z'; ++b) {
        const auto both = static_cast<std::uint16_t>(counts.of[b] + counts.of[b - 0x20]);
        counts.of[b] = both;
        counts.of[b - 0x20] = both;
    }
    return counts;
}

// Whether `byte`, either case of it for a letter, occurs at most kLoneLimit
// times in the kLoneWindow bytes from `from` on (rare_in_window, folded).
// Stops at the occurrence past the limit. Precondition: from + kLoneWindow <= n.
template <class T>
bool rare_in_window_folded(const std::uint8_t* data, std::size_t n, std::size_t from,
                           std::uint8_t byte) noexcept {
    static_assert(kLoneWindow % T::kWidth == 0);
    assert(from + kLoneWindow <= n);
    const typename T::Vec lower = T::splat(kFolded.of[byte]);
    const typename T::Vec fold = T::splat(is_ascii_letter(byte) ? 0x20 : 0);
    std::size_t seen = 0;
    for (std::size_t b = from; b < from + kLoneWindow; b += T::kWidth) {
        const typename T::Mask hits = T::eq(T::bits_or(load_at<T>(data, n, b), fold), lower);
        for (auto lanes = T::lanes(hits); !T::empty(lanes); lanes = T::drop_first(lanes)) {
            if (++seen > kLoneLimit) {
                return false;
            }
        }
    }
    return true;
}

// The needle's anchors chosen again from the haystack around `at`: a sample
// of kSampleBytes before it (forward) or from it on (kBackwards), counted
// with letters folded, and how many anchors to test by find_n's rule
// (anchors_to_test_by_count). Precondition: m >= 4.
struct FoldedChoice {
    FoldedNeedle needle;
    std::size_t tested;
};

template <bool kBackwards, class T>
FoldedChoice choose_folded_by_count(const std::uint8_t* data, std::size_t n, const FoldedNeedle& f,
                                    std::size_t at) noexcept {
    const std::size_t S = kSampleBytes;
    std::size_t from;
    if constexpr (kBackwards) {
        from = n - at >= S ? at : (n > S ? n - S : 0);
    } else {
        from = at > S ? at - S : 0;
    }
    const ByteCounts counts = folded_counts(ByteCounts::of_sample(data, n, from));
    const FoldedNeedle counted = f.counted(counts);
    const std::uint8_t first = f.bytes.data[counted.anchor[0]];
    bool rare_nearby = false;
    if (counts.of[first] == 0 && n >= kLoneWindow) {
        const std::size_t window = from + kLoneWindow <= n ? from : n - kLoneWindow;
        rare_nearby = rare_in_window_folded<T>(data, n, window, first);
    }
    return FoldedChoice{counted, anchors_to_test_by_count(first, f.bytes.data[counted.anchor[1]],
                                                          counts, rare_nearby)};
}

// Compares the needle at each candidate window of `mask` (block offset
// `base`), lowest first, or highest first with kBackwards. Returns true with
// `result` set when the search is decided: a window matched, or the budget
// ran out and Two-Way answered for the windows not yet examined (from the
// candidate on, or from it down). `windows`: the haystack's, n - m + 1.
template <bool kBackwards, class T>
[[gnu::always_inline]] inline bool verify_folded(const std::uint8_t* data, std::size_t n,
                                                 const FoldedNeedle& f, typename T::Mask mask,
                                                 std::size_t base, VerifyBudget& budget,
                                                 SearchResult& result) noexcept {
    const std::size_t m = f.bytes.size;
    auto lanes = T::lanes(mask);
    while (!T::empty(lanes)) {
        std::size_t p;
        if constexpr (kBackwards) {
            p = base + T::last(lanes);
            lanes = T::drop_last(lanes);
        } else {
            p = base + T::first(lanes);
            lanes = T::drop_first(lanes);
        }
        assert(p <= n - m);
        if (budget.exhausted_at(kBackwards ? n - m + 1 - p : p)) [[unlikely]] {
            QARVO_PROBE_PATH(kTwoWay);
            if constexpr (kBackwards) {
                result = two_way_search_last_folded(ByteRange{data, p + m}, f.bytes);
            } else {
                result =
                    shift_result(two_way_search_folded(ByteRange{data + p, n - p}, f.bytes), p);
            }
            return true;
        }
        budget.compared += m;
        if (equal_window_folded(data + p, f)) {
            result = SearchResult::at(p);
            return true;
        }
    }
    return false;
}

template <bool kBackwards, class T, std::size_t K>
SearchResult folded_blocks(const std::uint8_t* data, std::size_t n, const FoldedNeedle& f,
                           std::size_t from, VerifyBudget& budget, unsigned counts) noexcept;

// The search from window `from` on (below it, kBackwards) with the anchors
// of the counts'th counted choice.
template <bool kBackwards, class T>
SearchResult folded_blocks_counted(const std::uint8_t* data, std::size_t n,
                                   const FoldedChoice& choice, std::size_t from,
                                   VerifyBudget& budget, unsigned counts) noexcept {
    switch (choice.tested) {
        case 1:
            return folded_blocks<kBackwards, T, 1>(data, n, choice.needle, from, budget, counts);
        case 2:
            return folded_blocks<kBackwards, T, 2>(data, n, choice.needle, from, budget, counts);
        default:
            return folded_blocks<kBackwards, T, 3>(data, n, choice.needle, from, budget, counts);
    }
}

// The filtered search over blocks of W windows of the type T, testing K
// anchors, from window `from` on (kBackwards: below window `from`): four
// blocks per step with one test of their masks together, one block per
// step while W windows remain, and one more block at the far end,
// overlapping windows already rejected, which fail again.
//
// The anchors chosen by rank (`counts` 0) may be common in this haystack
// (digits in hex digests, NULs in a binary, the spaces and escape sequences
// of a text). Past find_n's allowance of false alarms (kFalseAlarmSlack,
// kFalseAlarmShare) they are chosen again by counts of the haystack around
// the cursor (choose_folded_by_count); so are counted ones that prove weak
// further on (a byte absent from one part of a file and common in the next:
// `python` of compare_ignore_case.py on 3.15's standard library), up to
// kFoldedCounts counts per call. With fewer than kRareAnchorsFrom windows
// left a third anchor by rank joins instead, once: there the count and its
// scan of a wider window cost more than the false alarms they save
// (`chinese` of compare_ignore_case.py at 4 KiB). And a long haystack
// (kCountFrom windows ahead) is counted after its first kRankedPrefix
// bytes whatever the false alarms: where one needle byte is absent from
// the data, testing it alone takes one load per block instead of two
// (`python` of compare_ignore_case.py --sustained). Needles of two and three
// bytes keep their anchors: the count could only choose among the same
// bytes. Precondition: at least W windows (n - m + 1 >= W).
template <bool kBackwards, class T, std::size_t K>
SearchResult folded_blocks(const std::uint8_t* data, std::size_t n, const FoldedNeedle& f,
                           std::size_t from, VerifyBudget& budget, unsigned counts) noexcept {
    constexpr std::size_t W = T::kWidth;
    const bool may_count = f.bytes.size >= 4 && counts < kFoldedCounts;
    const std::size_t m = f.bytes.size;
    const std::size_t windows = n - m + 1;
    assert(windows >= W);
    const FoldedAnchors<T, K> a = FoldedAnchors<T, K>::of(f);
    const std::size_t compared_before = budget.compared;
    SearchResult result = SearchResult::not_found();
    const auto block = [&](std::size_t b) {
        const typename T::Mask c = a.at_block(data, n, b);
        return T::any(c) && verify_folded<kBackwards, T>(data, n, f, c, b, budget, result);
    };
    // Whether the windows compared since `from` are false alarms enough to
    // choose again, `covered` windows on: find_n's allowance for a ranked
    // choice, a wider one for a counted choice, which only a byte far more
    // common than in its sample should give up: one in 800 windows of a
    // lone anchor cost less than the second load of a pair (`binary` of
    // compare_ignore_case.py --sustained).
    const std::size_t allowance = counts == 0 ? 4 * W * kFalseAlarmShare : kCountedAlarmWindows;
    const auto weak = [&](std::size_t covered) {
        const std::size_t false_alarms = (budget.compared - compared_before) / m;
        return false_alarms > kFalseAlarmSlack + covered / allowance;
    };
    // Whether to count once the ranked prefix has been searched, when
    // `count_when_left` windows remain.
    bool count_pending = false;
    std::size_t count_when_left = 0;
    if (K == 2 && counts == 0 && may_count) {
        const std::size_t ahead = kBackwards ? from : windows - from;
        count_pending = ahead >= kCountFrom;
        count_when_left = ahead - kRankedPrefix;
    }
    // The misalignment of the first anchor's loads from window p: the wide
    // types start with one block where that is not 0, then step on from the
    // window whose loads are aligned. A load across two cache lines costs two
    // (`python` and `chinese` of compare_ignore_case.py --sustained, whose
    // haystacks are bytes objects, 16 bytes past a line).
    const auto misalignment = [&](std::size_t p) -> std::size_t {
        return is_wide<T> ? reinterpret_cast<std::uintptr_t>(data + p + f.anchor[0]) % W : 0;
    };
    typename T::Mask c[4];
    if constexpr (kBackwards) {
        // Windows from `end` on are examined.
        std::size_t end = from;
        if (const std::size_t off = misalignment(end); off != 0 && end >= 5 * W) {
            if (block(end - W)) {
                return result;
            }
            end -= off;
        }
        while (end >= 4 * W) {
            const std::size_t b = end - 4 * W;
            if (a.at_four_blocks(data, n, b, c)) [[unlikely]] {
                if (verify_folded<true, T>(data, n, f, c[3], b + 3 * W, budget, result) ||
                    verify_folded<true, T>(data, n, f, c[2], b + 2 * W, budget, result) ||
                    verify_folded<true, T>(data, n, f, c[1], b + W, budget, result) ||
                    verify_folded<true, T>(data, n, f, c[0], b, budget, result)) {
                    return result;
                }
                if (may_count && weak(from - b)) {
                    if (b < kRareAnchorsFrom) {
                        QARVO_PROBE_PATH(kFoldedThirdByRank);
                        return folded_blocks<true, T, 3>(data, n, f.widened(), b, budget,
                                                         kFoldedCounts);
                    }
                    QARVO_PROBE_PATH(kFoldedRecounted);
                    return folded_blocks_counted<true, T>(
                        data, n, choose_folded_by_count<true, T>(data, n, f, b), b, budget,
                        counts + 1);
                }
            }
            end = b;
            if (count_pending && end <= count_when_left) [[unlikely]] {
                count_pending = false;
                const FoldedChoice choice = choose_folded_by_count<true, T>(data, n, f, end);
                if (choice.tested < K) {
                    QARVO_PROBE_PATH(kFoldedCountedAfterRankedPrefix);
                    return folded_blocks_counted<true, T>(data, n, choice, end, budget, 1);
                }
            }
        }
        while (end >= W) {
            end -= W;
            if (block(end)) {
                return result;
            }
        }
        if (end > 0 && block(0)) {
            return result;
        }
    } else {
        // Windows before `i` are examined.
        std::size_t i = from;
        if (const std::size_t off = misalignment(i); off != 0 && windows - i >= 5 * W) {
            if (block(i)) {
                return result;
            }
            i += W - off;
        }
        while (windows - i >= 4 * W) {
            if (a.at_four_blocks(data, n, i, c)) [[unlikely]] {
                if (verify_folded<false, T>(data, n, f, c[0], i, budget, result) ||
                    verify_folded<false, T>(data, n, f, c[1], i + W, budget, result) ||
                    verify_folded<false, T>(data, n, f, c[2], i + 2 * W, budget, result) ||
                    verify_folded<false, T>(data, n, f, c[3], i + 3 * W, budget, result)) {
                    return result;
                }
                if (may_count && weak(i + 4 * W - from)) {
                    if (windows - (i + 4 * W) < kRareAnchorsFrom) {
                        QARVO_PROBE_PATH(kFoldedThirdByRank);
                        return folded_blocks<false, T, 3>(data, n, f.widened(), i + 4 * W, budget,
                                                          kFoldedCounts);
                    }
                    QARVO_PROBE_PATH(kFoldedRecounted);
                    return folded_blocks_counted<false, T>(
                        data, n, choose_folded_by_count<false, T>(data, n, f, i + 4 * W), i + 4 * W,
                        budget, counts + 1);
                }
            }
            i += 4 * W;
            if (count_pending && windows - i <= count_when_left) [[unlikely]] {
                count_pending = false;
                const FoldedChoice choice = choose_folded_by_count<false, T>(data, n, f, i);
                if (choice.tested < K) {
                    QARVO_PROBE_PATH(kFoldedCountedAfterRankedPrefix);
                    return folded_blocks_counted<false, T>(data, n, choice, i, budget, 1);
                }
            }
        }
        while (windows - i >= W) {
            if (block(i)) {
                return result;
            }
            i += W;
        }
        if (i < windows && block(windows - W)) {
            return result;
        }
    }
    return SearchResult::not_found();
}

// Fewer windows than the narrowest vector type takes, one by one: each
// tested on the anchors, then compared in full. At most 15 windows, so at
// most 15 m bytes compared: no budget is needed.
template <bool kBackwards>
SearchResult folded_windows(const std::uint8_t* data, std::size_t n,
                            const FoldedNeedle& f) noexcept {
    const std::size_t windows = n - f.bytes.size + 1;
    const std::uint8_t a0 = kFolded.of[f.bytes.data[f.anchor[0]]];
    const std::uint8_t a1 = kFolded.of[f.bytes.data[f.anchor[1]]];
    for (std::size_t k = 0; k < windows; ++k) {
        const std::size_t p = kBackwards ? windows - 1 - k : k;
        if (kFolded.of[data[p + f.anchor[0]]] == a0 && kFolded.of[data[p + f.anchor[1]]] == a1 &&
            equal_window_folded(data + p, f)) {
            return SearchResult::at(p);
        }
    }
    return SearchResult::not_found();
}

// The widest of the types T, Narrower... whose vector the windows fill.
template <bool kBackwards, class T, class... Narrower>
SearchResult folded_widest(const std::uint8_t* data, std::size_t n,
                           const FoldedNeedle& f) noexcept {
    if (n - f.bytes.size + 1 >= T::kWidth) {
        VerifyBudget budget{f.bytes.size};
        const std::size_t from = kBackwards ? n - f.bytes.size + 1 : 0;
        // A rarest byte that text does not use (a control byte, most bytes
        // of 0x80 and above) is tested alone in a long haystack, as
        // find_n's ranked choice does: one load per block (`binary` of
        // compare_ignore_case.py --sustained), and where the guess is
        // wrong the false alarms soon choose again by counts. Not in a
        // short one: there the false alarms of a wrong guess cost more
        // than the second load (the same needle at 1 KiB). A needle of at
        // least four bytes only, which can choose again.
        if (f.bytes.size >= 4 && n - f.bytes.size + 1 >= kCountFrom &&
            kFoldedRank.of[f.bytes.data[f.anchor[0]]] < kAlienRank) {
            return folded_blocks<kBackwards, T, 1>(data, n, f, from, budget, 0);
        }
        return folded_blocks<kBackwards, T, 2>(data, n, f, from, budget, 0);
    }
    if constexpr (sizeof...(Narrower) > 0) {
        return folded_widest<kBackwards, Narrower...>(data, n, f);
    } else {
        return folded_windows<kBackwards>(data, n, f);
    }
}

// The first (kBackwards: the last) offset where the needle occurs with
// letters folded. An empty needle is found at 0 (at n); a needle longer
// than the haystack is not found.
template <bool kBackwards, class V, class... Narrower>
SearchResult search_folded(ByteRange haystack, ByteRange needle) noexcept {
    assert(haystack.data != nullptr || haystack.size == 0);
    assert(needle.data != nullptr || needle.size == 0);
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    if (m == 0) {
        return SearchResult::at(kBackwards ? n : 0);
    }
    if (m > n) {
        return SearchResult::not_found();
    }
    if (m == 1) {
        ByteSet both;
        both.add(needle.data[0]);
        both.add(other_case(needle.data[0]));
        return search_set<kBackwards, V, Narrower...>(haystack, both);
    }
    const FoldedNeedle f = FoldedNeedle::of(needle, rank_scan_limit(n));
    return folded_widest<kBackwards, V, Narrower...>(haystack.data, n, f);
}

template <class V, class... Narrower>
SearchResult find_folded(ByteRange haystack, ByteRange needle) noexcept {
    return search_folded<false, V, Narrower...>(haystack, needle);
}

template <class V, class... Narrower>
SearchResult rfind_folded(ByteRange haystack, ByteRange needle) noexcept {
    return search_folded<true, V, Narrower...>(haystack, needle);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
