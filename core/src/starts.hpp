// find_starts and count_starts: every offset where a short needle (2 to
// kShortNeedleMax bytes) starts, from a cursor on, for MatchScan's batches:
// one call reports a whole batch of matches, where a find_n per match pays
// the choice of filter and the setup each time (the dense rows of
// bench/python/compare_matches.py: "the", "что", b"self.", four NULs).
//
// With W-byte vectors: two needle bytes (the anchors, at offsets a < b of
// the needle, the two ranked rarest by byte_rank.hpp) are compared at W
// positions per vector, from loads at i + a and i + b; where any lane
// passes, the needle's other bytes are compared too, a load at i + k each,
// so the mask holds exactly the windows that match. Its lanes are then
// counted or written out without a branch per match: a match is a lane, not
// a mispredicted branch (a window compared in full per candidate, with a
// branch on its outcome, cost about as much per match as a find_n call in
// English text). Two vectors per step while 2W positions remain, then one,
// then the fewer than W positions left: a masked load where the backend has
// one, the next narrower step type, or position by position. A wide
// variant's last positions take one more vector over the last W positions,
// overlapping ones already examined.
//
// Positions below the cursor (the last reported one plus the step) are
// skipped, so a non-overlapping scan takes the greedy choice bytes.count
// makes; a needle that cannot overlap itself within a step ("the") needs no
// such test, and its count is the number of lanes. Linear: each position is
// compared at most once, at most kShortNeedleMax bytes.
#pragma once

#include <bit>
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

// A short needle as the scan compares it: its bytes, its anchors (offsets
// a < b), whether a match can start fewer than `step` bytes after another
// (a border of the needle shorter than the step: "aa", "abab", four NULs),
// and its bytes as two overlapping words of 8, 4 or 2 bytes (the first and
// the last), which compare a window in two loads where no vector does.
struct StartsNeedle {
    const std::uint8_t* bytes;
    std::size_t m;
    std::size_t a;
    std::size_t b;
    bool overlaps;
    std::uint64_t head;
    std::uint64_t tail;
    std::uint8_t rest[kShortNeedleMax];  // the offsets other than a and b, m - 2 of them
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

// Steps of scan_starts' anchor loop that pass, less those that do not,
// twice over, before it compares every byte at every step (kBusySteps).
inline constexpr std::size_t kBusySteps = 32;

// Whether the needle's last m - d bytes are its first, for some d < step.
inline bool overlaps_within(const std::uint8_t* p, std::size_t m, std::size_t step) noexcept {
    for (std::size_t d = 1; d < step && d < m; ++d) {
        if (p[d] == p[0] && std::memcmp(p + d, p, m - d) == 0) {
            return true;
        }
    }
    return false;
}

// The anchors: the needle's rarest byte by rank, and the rarest of the
// others, preferring a value unlike the first (a pair of equal bytes passes
// wherever a run of that byte does); ties go to the earlier offset. Both are
// picked by a key compared without a branch: a scan of a short range is
// mostly this plan, and a branch on every needle byte mispredicts on
// about half of them (the 1 KiB count rows of compare_matches.py).
inline StartsNeedle plan_starts_needle(ByteRange needle, std::size_t step) noexcept {
    const std::uint8_t* const p = needle.data;
    const std::size_t m = needle.size;
    assert(m >= 2 && m <= kShortNeedleMax);
    std::size_t rarest = 0;
    unsigned rarest_rank = kByteRank.of[p[0]];
    for (std::size_t k = 1; k < m; ++k) {
        const unsigned rank = kByteRank.of[p[k]];
        rarest = rank < rarest_rank ? k : rarest;
        rarest_rank = rank < rarest_rank ? rank : rarest_rank;
    }
    // A byte equal to the rarest one ranks after every other value.
    const auto partner_key = [&](std::size_t k) {
        return (p[k] == p[rarest] ? 256U : 0U) + kByteRank.of[p[k]];
    };
    std::size_t partner = rarest == 0 ? 1 : 0;
    unsigned partner_best = partner_key(partner);
    for (std::size_t k = partner + 1; k < m; ++k) {
        const unsigned key = k == rarest ? ~0U : partner_key(k);
        partner = key < partner_best ? k : partner;
        partner_best = key < partner_best ? key : partner_best;
    }
    StartsNeedle plan{p,
                      m,
                      rarest < partner ? rarest : partner,
                      rarest < partner ? partner : rarest,
                      overlaps_within(p, m, step),
                      0,
                      0,
                      {}};
    head_and_tail(p, m, plan.head, plan.tail);
    std::size_t others = 0;
    for (std::size_t k = 0; k < m; ++k) {
        if (k != plan.a && k != plan.b) {
            plan.rest[others++] = static_cast<std::uint8_t>(k);
        }
    }
    return plan;
}

// Where a scan reports to: offsets written to `out`, up to `room` of them,
// or only counted (kCount); `next`, the lowest offset it may still report.
template <bool kCount>
struct StartsSink {
    std::uint64_t* out;
    std::size_t room;
    std::size_t step;
    std::size_t next;
    std::size_t written = 0;
};

// Reports the matching lanes `lanes` of the positions at i, those before
// sink.next left out, each moving sink.next `step` past it. No branch
// depends on a match: every lane is stored, and kept by advancing the count.
// Returns false when the sink filled (sink.next is then the last reported
// offset plus the step).
template <class V, bool kCount>
[[gnu::always_inline]] inline bool report_lanes(std::size_t i, typename V::LaneSet lanes,
                                                const StartsNeedle& needle,
                                                StartsSink<kCount>& sink) noexcept {
    if constexpr (kCount) {
        if (!needle.overlaps) {
            // No two matches closer than the step, and none before sink.next
            // (the lanes start at or past it; the last vector masks below).
            sink.written += V::count(lanes);
            return true;
        }
    }
    std::size_t written = sink.written;
    if constexpr (!kCount && has_bit_lanes<V>) {
        if (!needle.overlaps && sink.room - written > V::kWidth) {
            // Every lane is kept: the first two written whether they are
            // set or not (the count says how many were), the rest walked.
            // In text a vector rarely holds more than two matches, and each
            // store written in vain costs a cycle at every vector.
            // Below 64 lanes a sentinel bit above them keeps the lowest-bit
            // count off zero, which the compiler would otherwise test with
            // a branch as unpredictable as the one this avoids.
            const std::size_t set = V::count(lanes);
            std::uint64_t* const out = sink.out + written;
            std::uint64_t bits = static_cast<std::uint64_t>(lanes);
            if constexpr (V::kWidth < 64) {
                bits |= std::uint64_t{1} << V::kWidth;
            }
            out[0] = i + static_cast<std::size_t>(std::countr_zero(bits));
            bits &= bits - 1;
            out[1] = i + static_cast<std::size_t>(std::countr_zero(bits));
            if (set > 2) [[unlikely]] {
                lanes = V::drop_first(V::drop_first(lanes));
                for (std::size_t k = 2; !V::empty(lanes); ++k, lanes = V::drop_first(lanes)) {
                    out[k] = i + V::first(lanes);
                }
            }
            sink.written = written + set;
            return true;
        }
    }
    std::size_t next = sink.next;
    for (; !V::empty(lanes); lanes = V::drop_first(lanes)) {
        const std::size_t p = i + V::first(lanes);
        const bool keep = p >= next;
        if constexpr (!kCount) {
            sink.out[written] = p;
        }
        written += keep ? 1 : 0;
        next = keep ? p + sink.step : next;
        if constexpr (!kCount) {
            if (written == sink.room) {
                sink.written = written;
                sink.next = next;
                return false;
            }
        }
    }
    sink.written = written;
    sink.next = next;
    return true;
}

// The W positions whose windows match, given `anchors`, the mask of those
// whose anchor bytes do: every other byte compared.
template <class V, class Load>
[[gnu::always_inline]] inline typename V::Mask all_bytes_mask(typename V::Mask anchors, Load load,
                                                              const StartsNeedle& needle) noexcept {
    QARVO_PROBE_COMPARED(needle.m * V::kWidth);
    typename V::Mask mask = anchors;
    for (std::size_t r = 0; r + 2 < needle.m; ++r) {
        const std::size_t k = needle.rest[r];
        mask = V::and_(mask, V::eq(load(k), V::splat(needle.bytes[k])));
    }
    return mask;
}

// The W positions at `at` whose windows match, given `anchors`, the mask of
// those whose anchor bytes do; load(k) is the vector of byte k of those
// windows. The other bytes are compared only where an anchor pair passed.
template <class V, class Load>
[[gnu::always_inline]] inline typename V::Mask exact_mask(typename V::Mask anchors, Load load,
                                                          const StartsNeedle& needle) noexcept {
    if (!V::any(anchors)) {
        return anchors;
    }
    return all_bytes_mask<V>(anchors, load, needle);
}

// Positions i .. n - m, those before sink.next skipped. Returns false when
// the sink filled; true when every position was examined.
template <bool kCount, class V, class... Narrower>
bool scan_starts(const std::uint8_t* data, std::size_t n, std::size_t i, ByteRange needle_bytes,
                 StartsSink<kCount>& caller_sink) noexcept {
    using Mask = typename V::Mask;
    using Vec = typename V::Vec;
    constexpr std::size_t W = V::kWidth;
    assert(needle_bytes.size <= n && i <= n - needle_bytes.size + 1);
    const std::size_t end = n - needle_bytes.size + 1;  // one past the last window's offset
    if constexpr (is_wide<V> && !has_masked_load<V>) {
        static_assert(sizeof...(Narrower) > 0);
        if (end - i < W) {
            return scan_starts<kCount, Narrower...>(data, n, i, needle_bytes, caller_sink);
        }
    }
    // The plan is made here, not by the caller: a plan passed in memory was
    // copied with vector loads from the scalar stores that had just written
    // it, a store forward that fails, which cost a short scan (a count of a
    // few dozen bytes) more than the scan itself.
    const StartsNeedle needle = plan_starts_needle(needle_bytes, caller_sink.step);
    // A copy in registers, not the caller's in memory: each match's count
    // would otherwise wait on the store of the one before.
    StartsSink<kCount> sink = caller_sink;
    const auto finish = [&caller_sink, &sink](bool examined) {
        caller_sink = sink;
        return examined;
    };
    const Vec at_a = V::splat(needle.bytes[needle.a]);
    const Vec at_b = V::splat(needle.bytes[needle.b]);
    const auto anchors = [&](std::size_t at) {
        return V::and_(V::eq(load_at<V>(data, n, at + needle.a), at_a),
                       V::eq(load_at<V>(data, n, at + needle.b), at_b));
    };
    const auto exact = [&](Mask pass, std::size_t at) {
        return exact_mask<V>(
            pass, [&](std::size_t k) { return load_at<V>(data, n, at + k); }, needle);
    };
    // Steps whose anchors pass count up by two, those that pass nowhere
    // down by one: past kBusySteps, where more than a third of the steps
    // held a candidate, the branch on them mispredicted so often that every
    // byte is compared at every step instead, without it (the dense rows).
    std::size_t busy = 0;
    while (end - i >= 2 * W) {
        const Mask c0 = anchors(i);
        const Mask c1 = anchors(i + W);
        if (V::any(V::or_(c0, c1))) {
            if (!report_lanes<V>(i, V::lanes(exact(c0, i)), needle, sink) ||
                !report_lanes<V>(i + W, V::lanes(exact(c1, i + W)), needle, sink)) {
                return finish(false);
            }
            busy += 2;
            if (busy >= kBusySteps) {
                i += 2 * W;
                break;
            }
        } else {
            busy -= busy > 0 ? 1 : 0;
        }
        i += 2 * W;
    }
    const auto every_byte = [&](std::size_t at) {
        return all_bytes_mask<V>(
            anchors(at), [&](std::size_t k) { return load_at<V>(data, n, at + k); }, needle);
    };
    while (end - i >= 2 * W) {
        if (!report_lanes<V>(i, V::lanes(every_byte(i)), needle, sink) ||
            !report_lanes<V>(i + W, V::lanes(every_byte(i + W)), needle, sink)) {
            return finish(false);
        }
        i += 2 * W;
    }
    if (end - i >= W) {
        if (!report_lanes<V>(i, V::lanes(exact(anchors(i), i)), needle, sink)) {
            return finish(false);
        }
        i += W;
    }
    if (i == end) {
        return finish(true);
    }
    if constexpr (has_masked_load<V>) {
        const std::size_t count = end - i;
        const auto load = [&](std::size_t k) { return load_first_at<V>(data, n, i + k, count); };
        const Mask pass = V::and_(V::and_(V::eq(load(needle.a), at_a), V::eq(load(needle.b), at_b)),
                                  V::first_lanes(count));
        return finish(
            report_lanes<V>(i, V::lanes(exact_mask<V>(pass, load, needle)), needle, sink));
    } else if constexpr (is_wide<V>) {
        // The last W positions, less those before i, which were examined.
        static_assert(has_bit_lanes<V>);
        const std::size_t last = end - W;
        using LaneSet = typename V::LaneSet;
        const LaneSet lanes = V::lanes(exact(anchors(last), last));
        return finish(report_lanes<V>(
            last, static_cast<LaneSet>(lanes & (~LaneSet{0} << (i - last))), needle, sink));
    } else if constexpr (sizeof...(Narrower) > 0) {
        const bool examined = scan_starts<kCount, Narrower...>(data, n, i, needle_bytes, sink);
        return finish(examined);
    } else {
        for (; i < end; ++i) {
            if (i < sink.next || data[i + needle.a] != needle.bytes[needle.a] ||
                data[i + needle.b] != needle.bytes[needle.b] || !equal_window(data + i, needle)) {
                continue;
            }
            if constexpr (!kCount) {
                sink.out[sink.written] = i;
            }
            ++sink.written;
            sink.next = i + sink.step;
            if (!kCount && sink.written == sink.room) {
                return finish(false);
            }
        }
        return finish(true);
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
    StartsSink<kCount> sink{out, room, cursor.step, cursor.next};
    if (scan_starts<kCount, V, Narrower...>(haystack.data, n, cursor.next, needle, sink)) {
        sink.next = sink.next > n - m + 1 ? sink.next : n - m + 1;
    }
    cursor.next = sink.next;
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
