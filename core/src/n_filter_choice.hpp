// The choice of the long search's filter bytes (find_n, n.hpp): the needle
// bytes a filter tests (Anchor, Filter), how each search picks them (by the
// byte-rank table, byte_rank.hpp, or by counting a sample of the haystack,
// rare_bytes.hpp), and how many of them it tests at every position. Every
// threshold of that policy is in filter_policy.hpp. Only speed depends on
// the choice: every occurrence is a candidate of any choice of bytes.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "byte_rank.hpp"
#include "filter_policy.hpp"
#include "probe.hpp"
#include "qarvo/search.hpp"
#include "rare_bytes.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// One needle byte at an offset, splat into a vector.
template <class V>
struct Anchor {
    std::size_t offset;
    typename V::Vec byte;
    std::uint8_t byte_value;

    static Anchor at(ByteRange needle, std::size_t offset) noexcept {
        const std::uint8_t value = needle.data[offset];
        return Anchor{offset, V::splat(value), value};
    }
};

// The needle bytes a search tests, built once per call: the filter tests the
// first, the middle and the last anchor at every position; a candidate is
// then tested on the check anchor before it is compared in full. The search
// starts with the second byte in the middle and the likely rarest inner byte
// as the check; swapped() exchanges the two.
template <class V>
struct Filter {
    Anchor<V> first;
    Anchor<V> middle;
    Anchor<V> last;
    Anchor<V> check;

    Filter swapped() const noexcept { return Filter{first, check, last, middle}; }
};

// The offset of the needle byte, other than 0, 1 and m - 1, most likely to
// reject a false candidate. The scan stops at a byte of the rarest rank, and
// looks at no more than `scan_limit` inner bytes, so that a long needle in a
// short haystack does not cost more to prepare than to search.
// Precondition: m >= 4.
inline std::size_t rarest_inner_offset(ByteRange needle, std::size_t scan_limit) noexcept {
    assert(needle.size >= 4);
    const std::size_t inner_end = needle.size - 1;
    const std::size_t end = inner_end - 2 < scan_limit ? inner_end : 2 + scan_limit;
    std::size_t best = 2;
    std::uint8_t best_rank = kByteRank.of[needle.data[2]];
    for (std::size_t k = 3; k < end && best_rank > 0; ++k) {
        const std::uint8_t rank = kByteRank.of[needle.data[k]];
        if (rank < best_rank) {
            best = k;
            best_rank = rank;
        }
    }
    return best;
}

// Inner bytes that the 16-byte variants scan for their check byte in a
// haystack of n bytes: at least kLeastScanned, up to one per
// kHaystackPerNeedleByte haystack bytes.
inline std::size_t rare_scan_limit(std::size_t haystack_size) noexcept {
    return haystack_size / kHaystackPerNeedleByte > kLeastScanned
               ? haystack_size / kHaystackPerNeedleByte
               : kLeastScanned;
}

// Needle bytes that the wide variants rank before their first vector step:
// at least kLeastRanked, up to one per kHaystackPerNeedleByte haystack bytes.
inline std::size_t rank_scan_limit(std::size_t haystack_size) noexcept {
    return haystack_size / kHaystackPerNeedleByte > kLeastRanked
               ? haystack_size / kHaystackPerNeedleByte
               : kLeastRanked;
}

// The filter of the wide backends: the four rarest needle bytes, rarest
// first; the wide steps test the first one to three at every position and
// the others on the candidates (candidates, refine).
template <class V>
Filter<V> rare_filter(ByteRange needle, const RareOffsets& rarest) noexcept {
    return Filter<V>{Anchor<V>::at(needle, rarest.at[0]), Anchor<V>::at(needle, rarest.at[1]),
                     Anchor<V>::at(needle, rarest.at[2]), Anchor<V>::at(needle, rarest.at[3])};
}

// The filter of the 16-byte backends: first, second and last byte, and the
// likely rarest inner byte as the check.
template <class V>
Filter<V> fixed_filter(ByteRange needle, std::size_t rare_offset) noexcept {
    return Filter<V>{Anchor<V>::at(needle, 0), Anchor<V>::at(needle, 1),
                     Anchor<V>::at(needle, needle.size - 1), Anchor<V>::at(needle, rare_offset)};
}

// The filter of the wide variants below kRareAnchorsFrom: the likely
// rarest inner byte and the last byte, tested at every position (two loads
// per block, where three cost more on short haystacks of text), then the
// first byte, and the second as the check. The last byte pairs better with
// the inner one than the first does: a needle of text often starts with a
// space, a UTF-8 lead byte or, in binary data, a NUL, and its last byte is
// rarely as common. When it is (rank kCommonLastRank or above), the byte
// before it takes its place, unless that is the inner one: the newline and
// Cyrillic lead byte of "\xd0\xbd\xd0\xb8\n\xd1\x81\xd0" let through nearly
// every line break of Russian text, the 0x81 before the lead byte far fewer
// (the real-data case `russian` at 1 KiB; core/TUNING.md). Where the two
// still let many positions through (hex digits, a pair of Cyrillic bytes),
// the steps go over to testing the first byte too after
// kShortFalseAlarmSlack false alarms.
template <class V>
Filter<V> short_filter(ByteRange needle, std::size_t rare_offset) noexcept {
    const std::size_t last = needle.size - 1;
    const std::size_t partner =
        kByteRank.of[needle.data[last]] >= kCommonLastRank && rare_offset != last - 1 ? last - 1
                                                                                      : last;
    return Filter<V>{Anchor<V>::at(needle, rare_offset), Anchor<V>::at(needle, partner),
                     Anchor<V>::at(needle, 0), Anchor<V>::at(needle, 1)};
}

// short_filter with the rarest by rank of the first byte, the last byte and
// the first kPartnerScan inner bytes (other than `rare_offset`) as its
// second anchor, the first byte (or the last, when the first is the
// partner) as its third, and the second byte as the check: four distinct
// offsets, since the inner ones start at 2. Equal ranks keep the last byte.
template <class V>
Filter<V> partnered_filter(ByteRange needle, std::size_t rare_offset) noexcept {
    const std::size_t last = needle.size - 1;
    const auto rank = [&](std::size_t offset) { return kByteRank.of[needle.data[offset]]; };
    std::size_t partner = last;
    std::size_t third = 0;
    std::uint8_t lowest = rank(last);
    if (rank(0) < lowest) {
        partner = 0;
        third = last;
        lowest = rank(0);
    }
    const std::size_t end = last < 2 + kPartnerScan ? last : 2 + kPartnerScan;
    for (std::size_t k = 2; k < end; ++k) {
        if (k != rare_offset && rank(k) < lowest) {
            partner = k;
            third = 0;
            lowest = rank(k);
        }
    }
    return Filter<V>{Anchor<V>::at(needle, rare_offset), Anchor<V>::at(needle, partner),
                     Anchor<V>::at(needle, third), Anchor<V>::at(needle, 1)};
}

// How many anchors the wide steps test: each one more costs a load per
// block, each one fewer lets through more false candidates, each a
// mispredicted branch. By rank: one when the rarest is a byte that text
// does not use (below kAlienRank), two when the second rarest is rare too
// (at most kTwoAnchorRank), otherwise three.
template <class V>
std::size_t anchors_to_test_by_rank(const Filter<V>& filter) noexcept {
    if (kByteRank.of[filter.first.byte_value] < kAlienRank) {
        return 1;
    }
    return kByteRank.of[filter.middle.byte_value] <= kTwoAnchorRank ? 2 : 3;
}

// By the counts of a sample: one when the first byte is absent from it and
// either rare nearby (`rare_nearby`: at most kLoneLimit times in the
// kLoneWindow bytes around the sample, rare_in_window) or paired with a
// second that would not narrow it much (over one sample byte in
// kSelectiveShare); two when the two let through about one position in
// kTwoAnchorShare or fewer; otherwise three.
// `first` and `second` are the bytes of the two rarest anchors; rfind_n's
// counted choice (reverse_n.hpp) takes the same rule.
inline std::size_t anchors_to_test_by_count(std::uint8_t first_byte, std::uint8_t second_byte,
                                            const ByteCounts& counts, bool rare_nearby) noexcept {
    constexpr std::size_t S = kSampleBytes;
    const std::size_t first = counts.of[first_byte];
    const std::size_t second = counts.of[second_byte];
    if (first == 0 && (rare_nearby || second * kSelectiveShare > S)) {
        return 1;
    }
    return first * second * kTwoAnchorShare <= S * S ? 2 : 3;
}

template <class V>
std::size_t anchors_to_test_by_count(const Filter<V>& filter, const ByteCounts& counts,
                                     bool rare_nearby) noexcept {
    return anchors_to_test_by_count(filter.first.byte_value, filter.middle.byte_value, counts,
                                    rare_nearby);
}

// The highest cursor at or before `i` (and above i - W) whose loads of the
// anchor at `offset` are aligned, or `i` itself when there is none: a search
// that has rejected every position before `i` may go on from there, examining
// fewer than W positions again.
template <class V>
std::size_t aligned_at_or_before(const std::uint8_t* data, std::size_t i,
                                 std::size_t offset) noexcept {
    const std::size_t misalignment =
        reinterpret_cast<std::uintptr_t>(data + i + offset) % V::kWidth;
    return misalignment <= i ? i - misalignment : i;
}

// The lanes set in a mask.
template <class V>
[[gnu::always_inline]] inline std::size_t lane_count(typename V::Mask mask) noexcept {
    auto lanes = V::lanes(mask);
    if constexpr (std::is_integral_v<decltype(lanes)>) {
        return static_cast<std::size_t>(std::popcount(lanes));
    } else {
        std::size_t count = 0;
        for (; !V::empty(lanes); lanes = V::drop_first(lanes)) {
            ++count;
        }
        return count;
    }
}

// Whether the anchor's byte occurs at most kLoneLimit times in the
// kLoneWindow bytes that end at `i` (or, nearer the start, the first
// kLoneWindow bytes). Stops at the four vectors where the count passes the
// limit, so a common byte costs no more than a rare one.
// Precondition: n >= kLoneWindow.
template <class V>
bool rare_in_window(const std::uint8_t* data, std::size_t n, std::size_t i,
                    const Anchor<V>& anchor) noexcept {
    constexpr std::size_t W = V::kWidth;
    static_assert(kLoneWindow % (4 * W) == 0);
    assert(n >= kLoneWindow);
    const std::size_t to = i > kLoneWindow && i <= n ? i : kLoneWindow;
    std::size_t seen = 0;
    // Four vectors per test: the byte is absent from most of them, and a
    // branch per vector made this loop a large part of a 16 KiB search
    // whose lone anchor proved weak (binary data, compare_real.py).
    for (std::size_t b = to - kLoneWindow; b < to; b += 4 * W) {
        const typename V::Mask h0 = V::eq(load_at<V>(data, n, b), anchor.byte);
        const typename V::Mask h1 = V::eq(load_at<V>(data, n, b + W), anchor.byte);
        const typename V::Mask h2 = V::eq(load_at<V>(data, n, b + 2 * W), anchor.byte);
        const typename V::Mask h3 = V::eq(load_at<V>(data, n, b + 3 * W), anchor.byte);
        if (!V::any(V::or_(V::or_(h0, h1), V::or_(h2, h3)))) {
            continue;
        }
        seen += lane_count<V>(h0) + lane_count<V>(h1) + lane_count<V>(h2) + lane_count<V>(h3);
        if (seen > kLoneLimit) {
            return false;
        }
    }
    return true;
}

// Needles with at most this many bytes to score have them counted with
// vector compares (needle_counts); longer ones fill the whole table.
inline constexpr std::size_t kVectorCounted = 64;

// ByteCounts::of_sample(data, n, from) for the bytes that rarest_in_sample
// scores (offsets below min(m, scan_limit), and m - 1), the rest left 0:
// nothing reads them. A short needle has few distinct bytes, and each is
// counted with one compare per W sample bytes; the table's increments, a
// store each, cost several times more (seen in searches of hex digits:
// core/TUNING.md). Falls back to the table for a long needle or a cut
// sample.
template <class V>
ByteCounts needle_counts(const std::uint8_t* data, std::size_t n, std::size_t from,
                         ByteRange needle, std::size_t scan_limit) noexcept {
    constexpr std::size_t S = kSampleBytes;
    static_assert(S % V::kWidth == 0);
    const std::size_t m = needle.size;
    const std::size_t end = m < scan_limit ? m : scan_limit;
    if (end > kVectorCounted || from > n || n - from < S) {
        return ByteCounts::of_sample(data, n, from);
    }
    ByteCounts counts{};
    std::uint64_t counted[4] = {};
    const auto count = [&](std::uint8_t byte) {
        std::uint64_t& word = counted[byte / 64];
        const std::uint64_t bit = std::uint64_t{1} << (byte % 64);
        if ((word & bit) != 0) {
            return;
        }
        word |= bit;
        const typename V::Vec splat = V::splat(byte);
        std::size_t total = 0;
        for (std::size_t b = from; b < from + S; b += V::kWidth) {
            total += lane_count<V>(V::eq(load_at<V>(data, n, b), splat));
        }
        counts.of[byte] = static_cast<std::uint16_t>(total);
    };
    for (std::size_t k = 0; k < end; ++k) {
        count(needle.data[k]);
    }
    count(needle.data[m - 1]);
    return counts;
}

// The adjacent needle bytes (offsets k and k + 1, k below
// kPairsCounted) whose pair occurs least often in the sample of kSampleBytes
// at `from`, and how often, if fewer than `below` times (else the count is
// `below`). Each pair costs two compares per W sample bytes, and its count
// stops at the best so far.
// Precondition: from + kSampleBytes + 1 <= n, m >= 4.
struct RarePair {
    std::size_t offset;
    std::size_t count;
};

template <class V>
RarePair rarest_pair(const std::uint8_t* data, std::size_t n, std::size_t from, ByteRange needle,
                     std::size_t below) noexcept {
    constexpr std::size_t S = kSampleBytes;
    static_assert(S % V::kWidth == 0);
    assert(from + S + 1 <= n);
    const std::size_t pairs = needle.size - 1 < kPairsCounted ? needle.size - 1 : kPairsCounted;
    RarePair best{0, below};
    for (std::size_t k = 0; k < pairs; ++k) {
        const typename V::Vec a = V::splat(needle.data[k]);
        const typename V::Vec b = V::splat(needle.data[k + 1]);
        std::size_t total = 0;
        for (std::size_t at = from; at < from + S && total < best.count; at += V::kWidth) {
            total += lane_count<V>(
                V::and_(V::eq(load_at<V>(data, n, at), a), V::eq(load_at<V>(data, n, at + 1), b)));
        }
        if (total < best.count) {
            best = RarePair{k, total};
        }
    }
    return best;
}

// Positions of the sample of kSampleBytes at `from` where the filter's
// first `tested` anchors (two or three) all match: what they let through
// there, counted rather than estimated from single counts, since in
// machine-written text the common bytes of a needle come together (a needle
// cut from a line shares most of its bytes, in place, with the lines around
// it). Precondition: from + kSampleBytes + m - 1 <= n, tested is 2 or 3.
template <class V>
std::size_t anchors_count(const std::uint8_t* data, std::size_t n, std::size_t from,
                          const Filter<V>& filter, std::size_t tested) noexcept {
    assert(tested == 2 || tested == 3);
    std::size_t total = 0;
    for (std::size_t at = from; at < from + kSampleBytes; at += V::kWidth) {
        typename V::Mask m =
            V::and_(V::eq(load_at<V>(data, n, at + filter.first.offset), filter.first.byte),
                    V::eq(load_at<V>(data, n, at + filter.middle.offset), filter.middle.byte));
        if (tested == 3) {
            m = V::and_(m, V::eq(load_at<V>(data, n, at + filter.last.offset), filter.last.byte));
        }
        total += lane_count<V>(m);
    }
    return total;
}

// Where the needle departs from the windows of [from, to) that the
// filter's first `tested` anchors (two or three) let through: of the first
// kDepartureWindows of them, the one that differs from the needle in the
// fewest bytes (a line of the haystack that the needle copies with a byte
// changed differs in that byte only), and the first offset where it
// differs; m when none passes there, or when the closest differs in more
// than one byte in kDepartureShare (positions whose window would leave the
// haystack are not looked at; a window equal to the needle is passed over).
template <class V>
std::size_t departure_offset(const std::uint8_t* data, std::size_t n, std::size_t from,
                             std::size_t to, ByteRange needle, const Filter<V>& filter,
                             std::size_t tested) noexcept {
    assert(tested == 2 || tested == 3);
    constexpr std::size_t W = V::kWidth;
    const std::size_t m = needle.size;
    std::size_t departs = m;
    std::size_t fewest = m + 1;
    std::size_t looked = 0;
    for (std::size_t at = from; at + W <= to && n - at >= W + m - 1; at += W) {
        typename V::Mask pass =
            V::and_(V::eq(load_at<V>(data, n, at + filter.first.offset), filter.first.byte),
                    V::eq(load_at<V>(data, n, at + filter.middle.offset), filter.middle.byte));
        if (tested == 3) {
            pass = V::and_(pass,
                           V::eq(load_at<V>(data, n, at + filter.last.offset), filter.last.byte));
        }
        for (auto lanes = V::lanes(pass); !V::empty(lanes); lanes = V::drop_first(lanes)) {
            const std::uint8_t* const window = data + at + V::first(lanes);
            std::size_t first = m;
            std::size_t differing = 0;
            for (std::size_t k = 0; k < m; ++k) {
                if (window[k] != needle.data[k]) {
                    first = differing == 0 ? k : first;
                    ++differing;
                }
            }
            if (differing != 0 && differing < fewest) {
                fewest = differing;
                departs = first;
            }
            if (++looked == kDepartureWindows) {
                break;
            }
        }
        if (looked == kDepartureWindows) {
            break;
        }
    }
    // A window that differs in more than a quarter of its bytes is no copy of
    // the needle's line, and the byte where it departs says nothing of the
    // rest (in prose the counted anchors pass such windows by chance: the
    // Russian rows of compare_matches.py's rfind).
    return fewest * kDepartureShare <= m ? departs : m;
}

// The counted filter (two or three common bytes) of a search whose ranked
// anchors proved weak, narrowed where its single bytes come together.
//
// A pair of adjacent needle bytes may still be rare where each byte is
// common (the "lt" of "nstalted" among lines of "installed", the log rows
// of compare_real.py; the "40" of "4025-01-03T0" among timestamps of 2025,
// near_miss_sweep.py). Two anchors on that pair when it lets through fewer
// positions of the sample than the counted anchors do: fewer false
// candidates, and with three, one load less per block. Only after two or
// three anchors proved weak (`several`: the single bytes come together),
// and where the counted ones let some of the sample through (kPairFrom):
// elsewhere, as in hex digits, the pairs are as common as the bytes and
// counting them is lost time, as is counting the anchors' passes after a
// single anchor proved weak (the 16 KiB rows of md5 and binary in
// compare_real.py).
//
// Returns how many anchors to test. Precondition: tested >= 2,
// from <= i <= n, every position below i rejected.
template <class V>
std::size_t narrow_weak_filter(const std::uint8_t* data, std::size_t n, std::size_t from,
                               std::size_t i, ByteRange needle, Filter<V>& filter,
                               std::size_t tested, bool several) noexcept {
    bool paired = false;
    if (several && n - from >= kSampleBytes + needle.size - 1) {
        const std::size_t passed = anchors_count<V>(data, n, from, filter, tested);
        const RarePair pair = passed >= kPairFrom ? rarest_pair<V>(data, n, from, needle, passed)
                                                  : RarePair{0, passed};
        if (pair.count < passed) {
            QARVO_PROBE_PATH(kCountedPairAnchors);
            // The rarest single bytes outside the pair are checked on the
            // candidates; two of the four are.
            const Anchor<V> singles[4] = {filter.first, filter.middle, filter.last, filter.check};
            Anchor<V> others[2] = {singles[0], singles[0]};
            std::size_t found = 0;
            for (const Anchor<V>& single : singles) {
                if (found < 2 && single.offset != pair.offset && single.offset != pair.offset + 1) {
                    others[found++] = single;
                }
            }
            filter = Filter<V>{Anchor<V>::at(needle, pair.offset),
                               Anchor<V>::at(needle, pair.offset + 1), others[0], others[1]};
            tested = 2;
            paired = true;
        }
    }
    if (!paired && n - i >= kDepartureFrom) {
        // The counted anchors also come together where the needle copies a
        // line of the haystack with a byte changed: every line passes them
        // and fails only in full, and no pair need be rarer (the changed
        // byte between two common ones: `, "user", {"na` cut from
        // `}, "user": {"name"`, near_miss_sweep.py's JSON). The byte where
        // such a line departs from the needle rejects them all; it is tested
        // with the rarest counted one, the others checked. Only on a long
        // rest: a scan of the sample that finds no such line is lost time.
        const std::size_t departs = departure_offset<V>(data, n, from, i, needle, filter, tested);
        if (departs < needle.size) {
            QARVO_PROBE_PATH(kDepartureAnchor);
            const Anchor<V> singles[4] = {filter.first, filter.middle, filter.last, filter.check};
            Anchor<V> others[3] = {singles[0], singles[0], singles[0]};
            std::size_t found = 0;
            for (const Anchor<V>& single : singles) {
                if (found < 3 && single.offset != departs) {
                    others[found++] = single;
                }
            }
            filter = Filter<V>{Anchor<V>::at(needle, departs), others[0], others[1], others[2]};
            tested = 2;
        }
    }
    return tested;
}

// What proved weak before a count, which decides whether it counts pairs.
enum class ProvedWeak {
    kNothing,         // the ranked prefix passed without a false alarm
    kLoneAnchor,      // one anchor by rank
    kSeveralAnchors,  // two or three by rank
};

// Filters on the needle bytes rarest in a sample of the haystack around the
// cursor `i` (the bytes just before it, where there are enough), and moves
// the cursor back to the block offset whose loads of the new first anchor
// are aligned: the fewer than W positions examined again are known not to
// match. Returns how many anchors to test.
template <class V>
std::size_t refilter_by_count(const std::uint8_t* data, std::size_t n, ByteRange needle,
                              Filter<V>& filter, std::size_t& i,
                              ProvedWeak weak = ProvedWeak::kNothing) noexcept {
    const std::size_t from = i > kSampleBytes ? i - kSampleBytes : 0;
    // Every needle byte: the filter chosen without the data has met data on
    // which it is weak, and a rare byte beyond the limit that ranking keeps
    // to (the 'e' of a long needle of 'z' in a run of 'z') spares a Two-Way
    // search of the rest. Scoring a byte costs a few cycles, and m <= n.
    const std::size_t scan_limit = needle.size;
    const ByteCounts counts = needle_counts<V>(data, n, from, needle, scan_limit);
    filter = rare_filter<V>(needle, rarest_in_sample(needle, scan_limit, counts));
    const bool rare_nearby =
        counts.of[filter.first.byte_value] == 0 && rare_in_window<V>(data, n, i, filter.first);
    std::size_t tested = anchors_to_test_by_count(filter, counts, rare_nearby);
    if (tested < 2 || weak == ProvedWeak::kNothing) {
        i = aligned_at_or_before<V>(data, i, filter.first.offset);
        return tested;
    }
    tested = narrow_weak_filter<V>(data, n, from, i, needle, filter, tested,
                                   weak == ProvedWeak::kSeveralAnchors);
    i = aligned_at_or_before<V>(data, i, filter.first.offset);
    return tested;
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
