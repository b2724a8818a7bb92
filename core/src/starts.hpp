// find_starts and count_starts: every offset where a short needle (2 to
// kShortNeedleMax bytes) starts, from a cursor on, for MatchScan's batches:
// one call reports a whole batch of matches, where a find_n per match pays
// the choice of filter and the setup each time (the dense rows of
// bench/python/compare_matches.py: "the", "что", b"self.", four NULs).
//
// With W-byte vectors: two needle bytes (the anchors, at offsets a < b of
// the needle, the two ranked rarest by byte_rank.hpp) are compared at W
// positions per vector, from loads at i + a and i + b; the lanes where both
// agree are walked in increasing order and each window is compared in full,
// at most kShortNeedleMax bytes (equal_window). Two vectors per step while
// 2W positions remain, then one, then the fewer than W positions left: a
// masked load where the backend has one, the next narrower step type, or
// position by position. A wide variant's last positions take one more
// vector over the last W positions, overlapping ones already examined.
// Positions below the cursor (the last reported one plus the step) are
// skipped, so a non-overlapping scan takes the greedy choice bytes.count
// makes. Linear: each position is compared in full at most once, at most
// kShortNeedleMax bytes.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "byte_rank.hpp"
#include "probe.hpp"
#include "qarvo/search.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// A short needle as the scan compares it: its anchors (offsets a < b and
// their bytes), and its bytes as two overlapping words of 8, 4 or 2 bytes
// (the first and the last), which compare a window of 2 to 16 bytes in two
// loads.
struct StartsNeedle {
    std::size_t m;
    std::size_t a;
    std::size_t b;
    std::uint8_t at_a;
    std::uint8_t at_b;
    std::uint64_t head;
    std::uint64_t tail;
};

template <class Word>
[[gnu::always_inline]] inline std::uint64_t word_at(const std::uint8_t* p) noexcept {
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// The first and last 8, 4 or 2 bytes at p, by the needle's length: they
// cover all m bytes and read no other. Precondition: 2 <= m <= 16.
[[gnu::always_inline]] inline void head_and_tail(const std::uint8_t* p, std::size_t m,
                                                 std::uint64_t& head,
                                                 std::uint64_t& tail) noexcept {
    if (m >= 8) {
        head = word_at<std::uint64_t>(p);
        tail = word_at<std::uint64_t>(p + m - 8);
    } else if (m >= 4) {
        head = word_at<std::uint32_t>(p);
        tail = word_at<std::uint32_t>(p + m - 4);
    } else {
        head = word_at<std::uint16_t>(p);
        tail = word_at<std::uint16_t>(p + m - 2);
    }
}

// Whether the window at p is the needle: m bytes compared.
[[gnu::always_inline]] inline bool equal_window(const std::uint8_t* p,
                                                const StartsNeedle& needle) noexcept {
    QARVO_PROBE_COMPARED(needle.m);
    std::uint64_t head;
    std::uint64_t tail;
    head_and_tail(p, needle.m, head, tail);
    return head == needle.head && tail == needle.tail;
}

// The anchors: the needle's rarest byte by rank, and the rarest of the
// others, preferring a value unlike the first (a pair of equal bytes passes
// wherever a run of that byte does); ties go to the earlier offset.
inline StartsNeedle plan_starts_needle(ByteRange needle) noexcept {
    const std::uint8_t* const p = needle.data;
    const std::size_t m = needle.size;
    assert(m >= 2 && m <= kShortNeedleMax);
    std::size_t rarest = 0;
    for (std::size_t k = 1; k < m; ++k) {
        if (kByteRank.of[p[k]] < kByteRank.of[p[rarest]]) {
            rarest = k;
        }
    }
    std::size_t partner = rarest == 0 ? 1 : 0;
    for (std::size_t k = partner + 1; k < m; ++k) {
        if (k == rarest) {
            continue;
        }
        const bool differs = p[k] != p[rarest];
        const bool partner_differs = p[partner] != p[rarest];
        if (differs != partner_differs ? differs : kByteRank.of[p[k]] < kByteRank.of[p[partner]]) {
            partner = k;
        }
    }
    const std::size_t a = rarest < partner ? rarest : partner;
    const std::size_t b = rarest < partner ? partner : rarest;
    StartsNeedle plan{m, a, b, p[a], p[b], 0, 0};
    head_and_tail(p, m, plan.head, plan.tail);
    return plan;
}

// Where a scan reports to: offsets written to `out`, up to `room` of them,
// or only counted (kCount).
template <bool kCount>
struct StartsSink {
    std::uint64_t* out;
    std::size_t room;
    std::size_t written = 0;

    [[gnu::always_inline]] bool full() const noexcept { return !kCount && written == room; }
    [[gnu::always_inline]] void put(std::size_t p) noexcept {
        if constexpr (!kCount) {
            out[written] = p;
        }
        ++written;
    }
};

// The candidates `lanes` of the positions at i: each at or past `next`
// compared in full, and reported with `next` moved `step` past it. Returns
// false when the sink filled.
template <class V, bool kCount>
[[gnu::always_inline]] inline bool report_lanes(const std::uint8_t* data, std::size_t i,
                                                typename V::LaneSet lanes,
                                                const StartsNeedle& needle, std::size_t step,
                                                std::size_t& next,
                                                StartsSink<kCount>& sink) noexcept {
    for (; !V::empty(lanes); lanes = V::drop_first(lanes)) {
        const std::size_t p = i + V::first(lanes);
        if (p < next || !equal_window(data + p, needle)) {
            continue;
        }
        sink.put(p);
        next = p + step;
        if (sink.full()) {
            return false;
        }
    }
    return true;
}

// The anchor mask of the W positions at i: reads bytes i + a .. i + b + W - 1.
template <class V>
[[gnu::always_inline]] inline typename V::Mask anchor_mask(const std::uint8_t* data, std::size_t n,
                                                           std::size_t i,
                                                           const StartsNeedle& needle,
                                                           typename V::Vec at_a,
                                                           typename V::Vec at_b) noexcept {
    return V::and_(V::eq(load_at<V>(data, n, i + needle.a), at_a),
                   V::eq(load_at<V>(data, n, i + needle.b), at_b));
}

// Positions i .. n - m, those before `next` skipped. Returns false when the
// sink filled (`next` is then the last reported offset plus the step);
// true when every position was examined.
template <bool kCount, class V, class... Narrower>
bool scan_starts(const std::uint8_t* data, std::size_t n, std::size_t i, const StartsNeedle& needle,
                 std::size_t step, std::size_t& next, StartsSink<kCount>& sink) noexcept {
    using Mask = typename V::Mask;
    using Vec = typename V::Vec;
    constexpr std::size_t W = V::kWidth;
    assert(needle.m <= n && i <= n - needle.m + 1);
    const std::size_t end = n - needle.m + 1;  // one past the last window's offset
    if constexpr (is_wide<V> && !has_masked_load<V>) {
        static_assert(sizeof...(Narrower) > 0);
        if (end - i < W) {
            return scan_starts<kCount, Narrower...>(data, n, i, needle, step, next, sink);
        }
    }
    const Vec at_a = V::splat(needle.at_a);
    const Vec at_b = V::splat(needle.at_b);
    while (end - i >= 2 * W) {
        const Mask m0 = anchor_mask<V>(data, n, i, needle, at_a, at_b);
        const Mask m1 = anchor_mask<V>(data, n, i + W, needle, at_a, at_b);
        if (V::any(V::or_(m0, m1))) {
            if (!report_lanes<V>(data, i, V::lanes(m0), needle, step, next, sink) ||
                !report_lanes<V>(data, i + W, V::lanes(m1), needle, step, next, sink)) {
                return false;
            }
        }
        i += 2 * W;
    }
    if (end - i >= W) {
        const Mask m0 = anchor_mask<V>(data, n, i, needle, at_a, at_b);
        if (V::any(m0) && !report_lanes<V>(data, i, V::lanes(m0), needle, step, next, sink)) {
            return false;
        }
        i += W;
    }
    if (i == end) {
        return true;
    }
    if constexpr (has_masked_load<V>) {
        const std::size_t count = end - i;
        const Mask m0 =
            V::and_(V::and_(V::eq(load_first_at<V>(data, n, i + needle.a, count), at_a),
                            V::eq(load_first_at<V>(data, n, i + needle.b, count), at_b)),
                    V::first_lanes(count));
        return report_lanes<V>(data, i, V::lanes(m0), needle, step, next, sink);
    } else if constexpr (is_wide<V>) {
        // The last W positions; those before i were examined, so they are
        // skipped as if reported.
        next = next > i ? next : i;
        const std::size_t last = end - W;
        return report_lanes<V>(data, last,
                               V::lanes(anchor_mask<V>(data, n, last, needle, at_a, at_b)), needle,
                               step, next, sink);
    } else if constexpr (sizeof...(Narrower) > 0) {
        return scan_starts<kCount, Narrower...>(data, n, i, needle, step, next, sink);
    } else {
        for (; i < end; ++i) {
            if (i < next || data[i + needle.a] != needle.at_a ||
                data[i + needle.b] != needle.at_b || !equal_window(data + i, needle)) {
                continue;
            }
            sink.put(i);
            next = i + step;
            if (sink.full()) {
                return false;
            }
        }
        return true;
    }
}

// find_starts (kCount false) and count_starts (kCount true) of search.hpp.
template <bool kCount, class V, class... Narrower>
std::size_t starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor, std::uint64_t* out,
                   std::size_t room) noexcept {
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    assert(m >= 2 && m <= kShortNeedleMax && cursor.step >= 1);
    if (m > n || cursor.next > n - m || (!kCount && room == 0)) {
        return 0;
    }
    const StartsNeedle plan = plan_starts_needle(needle);
    StartsSink<kCount> sink{out, room};
    std::size_t next = cursor.next;
    if (scan_starts<kCount, V, Narrower...>(haystack.data, n, next, plan, cursor.step, next,
                                            sink)) {
        next = next > n - m + 1 ? next : n - m + 1;
    }
    cursor.next = next;
    return sink.written;
}

template <class V, class... Narrower>
std::size_t find_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor,
                        std::span<std::uint64_t> out) noexcept {
    return starts<false, V, Narrower...>(haystack, needle, cursor, out.data(), out.size());
}

template <class V, class... Narrower>
std::size_t count_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor) noexcept {
    return starts<true, V, Narrower...>(haystack, needle, cursor, nullptr, 0);
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
