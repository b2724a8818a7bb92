// Two-Way string matching (Crochemore and Perrin, 1991): a substring search
// that makes at most about 2n byte comparisons against a haystack of n bytes,
// whatever the needle, uses constant extra space and needs no table. The search
// core keeps it as the worst-case guard behind the vector prefilter, whose
// candidate-by-candidate comparison can cost n * m on hostile inputs.
//
// Outline. The needle x (m bytes) is cut once into x = u v at a critical
// position c = |u|, where the local period at the cut equals the period of the
// whole needle. At each window the right part v is compared left to right and
// then the left part u right to left. A mismatch in v at needle index i moves
// the window by i - c + 1; a mismatch in u moves it by the period, or by a
// safe lower bound on the period when the needle is not periodic. The first
// window where both parts match is the answer.
//
// The same search runs from the end (Direction::last): the last occurrence of
// x in y is the first occurrence of x read back to front in y read back to
// front, so the search reads both ranges through a view that reverses them
// (Reversed) and maps its answer back; the factorisation is that of the
// reversed needle. One algorithm, one comparison bound, either way. Run
// forward, it reads plain pointers, as it did before it had a direction.
//
// Everything here is header-only, allocation-free and never throws; it reads
// only needle[0, m) and haystack[0, n).
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "fold.hpp"
#include "qarvo/search.hpp"

namespace qarvo::detail {

// Which occurrence a search returns: the first (lowest offset) or the last.
enum class Direction { first, last };

// A byte range read back to front: index i is data[size - 1 - i].
struct Reversed {
    const std::uint8_t* data;
    std::size_t size;

    [[gnu::always_inline]] std::uint8_t operator[](std::size_t i) const noexcept {
        assert(i < size);
        return data[size - 1 - i];
    }
};

// A byte range read with ASCII letters folded to lower case (fold.hpp), in
// the direction D: the case-insensitive search compares the folded needle
// with the folded haystack, so the factorization below is the folded
// needle's and every bound holds unchanged.
template <Direction D>
struct Folded {
    const std::uint8_t* data;
    std::size_t size;

    [[gnu::always_inline]] std::uint8_t operator[](std::size_t i) const noexcept {
        assert(i < size);
        return kFolded.of[D == Direction::first ? data[i] : data[size - 1 - i]];
    }
};

// A range as a search in direction D reads it: the plain pointer, or
// Reversed for Direction::last; Folded when the search ignores case.
template <Direction D, bool kFold = false>
using Oriented =
    std::conditional_t<kFold, Folded<D>,
                       std::conditional_t<D == Direction::first, const std::uint8_t*, Reversed>>;

template <Direction D, bool kFold = false>
[[gnu::always_inline]] inline Oriented<D, kFold> oriented(const std::uint8_t* data,
                                                          std::size_t size) noexcept {
    if constexpr (kFold) {
        return Folded<D>{data, size};
    } else if constexpr (D == Direction::first) {
        (void)size;
        return data;
    } else {
        return Reversed{data, size};
    }
}

// The lexicographically greatest suffix of a needle under one byte order: it
// starts at `start` and has the period `period` (1 <= period <= m - start).
struct MaximalSuffix {
    std::size_t start;
    std::size_t period;
};

// Finds the greatest suffix of x[0, m) in O(m) comparisons. With `reversed`
// set, bytes are ordered from 0xFF down to 0x00 instead.
//
// Precondition: m >= 1 and x points at m readable bytes.
//
// Invariant of the loop: x[best, m) is the greatest suffix among those that
// start at or before `cand - 1`, and its prefix of length `off` equals
// x[cand, cand + off); `period` is the period of x[best, cand + off).
// `Bytes`: a plain pointer, or Reversed.
template <class Bytes>
inline MaximalSuffix maximal_suffix(Bytes x, std::size_t m, bool reversed) noexcept {
    assert(m >= 1);
    std::size_t best = 0;    // start of the greatest suffix found so far
    std::size_t cand = 1;    // start of the challenger
    std::size_t off = 0;     // bytes of the challenger that tie with `best`
    std::size_t period = 1;  // period of the tied stretch x[best, cand + off)
    while (cand + off < m) {
        const std::uint8_t challenger = x[cand + off];
        const std::uint8_t incumbent = x[best + off];
        if (challenger == incumbent) {
            // Still tied. After a whole period, step the challenger by that
            // period: the suffixes in between are dominated by periodicity.
            if (off + 1 == period) {
                cand += period;
                off = 0;
            } else {
                ++off;
            }
        } else if ((challenger < incumbent) != reversed) {
            // The challenger loses, and so does every suffix starting inside
            // the stretch it tied on; the tied stretch gets a longer period.
            cand += off + 1;
            off = 0;
            period = cand - best;
        } else {
            // The challenger wins: it becomes the greatest suffix so far.
            best = cand;
            cand = best + 1;
            off = 0;
            period = 1;
        }
    }
    assert(best < m && period >= 1 && period <= m - best);
    return {best, period};
}

// The needle cut at a critical position: u = needle[0, critical) and
// v = needle[critical, m). `period` is the period of v; when `periodic` holds
// it is also the period of the whole needle.
struct CriticalFactorization {
    std::size_t critical;
    std::size_t period;
    bool periodic;
};

// Precondition: m >= 1 and x views m readable bytes (a plain pointer, or
// Reversed).
template <class Bytes>
inline CriticalFactorization critical_factorization(Bytes x, std::size_t m) noexcept {
    // The later of the two maximal suffixes (under opposite byte orders)
    // starts at a critical position, and its period is the local period there.
    const MaximalSuffix ascending = maximal_suffix(x, m, false);
    const MaximalSuffix descending = maximal_suffix(x, m, true);
    const MaximalSuffix& cut = ascending.start > descending.start ? ascending : descending;

    // The needle has period `cut.period` exactly when u occurs again `period`
    // bytes later. This reads x[period, period + critical), inside the needle
    // because period <= m - critical.
    assert(cut.start < m && cut.period + cut.start <= m);
    bool periodic = true;
    if constexpr (std::is_pointer_v<Bytes>) {
        periodic = std::memcmp(x, x + cut.period, cut.start) == 0;
    } else {
        for (std::size_t i = 0; i < cut.start && periodic; ++i) {
            periodic = x[i] == x[i + cut.period];
        }
    }
    return {cut.start, cut.period, periodic};
}

// The search itself, for the first occurrence or (Direction::last) the last.
// `equal(needle_byte, haystack_byte)` decides each comparison against the
// haystack; two_way_find passes plain equality, and tests pass a counting
// one to check the linear comparison bound on exactly the code that runs in
// production. With kFold, both ranges are read with ASCII letters folded
// (Folded), which makes the search case-insensitive. Below, "pos" and the
// indices count in the direction of the search: from the end of both ranges
// for Direction::last.
template <Direction D = Direction::first, bool kFold = false, class Equal>
SearchResult two_way_find_with(ByteRange haystack, ByteRange needle, Equal&& equal) noexcept {
    assert(haystack.data != nullptr || haystack.size == 0);
    assert(needle.data != nullptr || needle.size == 0);
    const std::size_t n = haystack.size;
    const std::size_t m = needle.size;
    if (m == 0) {
        return SearchResult::at(D == Direction::first ? 0 : n);
    }
    if (m > n) {
        return SearchResult::not_found();
    }
    const Oriented<D, kFold> x = oriented<D, kFold>(needle.data, m);
    const Oriented<D, kFold> y = oriented<D, kFold>(haystack.data, n);
    // The window at `pos` in the direction of the search starts at offset
    // n - m - pos of the haystack when that direction is backward.
    const auto found_at = [n, m](std::size_t pos) noexcept {
        if constexpr (D == Direction::first) {
            (void)n;
            (void)m;
            return SearchResult::at(pos);
        } else {
            return SearchResult::at(n - m - pos);
        }
    };
    const CriticalFactorization f = critical_factorization(x, m);
    const std::size_t c = f.critical;
    assert(c < m);

    // Both loops keep: no occurrence starts before `pos`, and pos + m <= n,
    // so every haystack read y[pos + i] with i < m stays inside the range.
    // Shifts never pass an occurrence and never overflow: pos + shift <= n.
    std::size_t pos = 0;
    if (f.periodic) {
        // The needle has period p. When v matched but u did not, the window
        // moves by p, and the first m - p bytes of the new window are already
        // known to match: that is `known`, so the next attempt need not
        // compare them again (without it the bound below 2n is lost).
        const std::size_t p = f.period;
        // The cut found this way lies within the first period (c < p), and
        // u recurs p bytes later, inside the needle: c + p <= m.
        assert(c < p && c + p <= m);
        std::size_t known = 0;
        while (pos <= n - m) {
            assert(known <= m - p);
            std::size_t i = std::max(c, known);
            while (i < m && equal(x[i], y[pos + i])) {
                ++i;
            }
            if (i < m) {
                // v[0, i - c) matched and the cut is critical, so no
                // occurrence starts at pos + 1 .. pos + i - c.
                pos += i - c + 1;
                known = 0;
                continue;
            }
            i = c;
            while (i > known && equal(x[i - 1], y[pos + i - 1])) {
                --i;
            }
            if (i <= known) {
                return found_at(pos);
            }
            pos += p;
            known = m - p;
        }
    } else {
        // u does not recur `period` bytes later, so the needle's period
        // exceeds max(c, m - c): shifting by that plus one after a match of v
        // is safe. No memory is needed, and none is kept.
        const std::size_t shift = std::max(c, m - c) + 1;
        while (pos <= n - m) {
            std::size_t i = c;
            while (i < m && equal(x[i], y[pos + i])) {
                ++i;
            }
            if (i < m) {
                pos += i - c + 1;
                continue;
            }
            i = c;
            while (i > 0 && equal(x[i - 1], y[pos + i - 1])) {
                --i;
            }
            if (i == 0) {
                return found_at(pos);
            }
            pos += shift;
        }
    }
    return SearchResult::not_found();
}

// First offset p with haystack[p, p + m) == needle[0, m): 0 for an empty
// needle, not found when the needle is longer than the haystack. At most about
// 2n + O(m) byte comparisons, no allocation, no reads outside either range.
inline SearchResult two_way_find(ByteRange haystack, ByteRange needle) noexcept {
    return two_way_find_with(haystack, needle,
                             [](std::uint8_t a, std::uint8_t b) noexcept { return a == b; });
}

// Last offset p with haystack[p, p + m) == needle[0, m): n for an empty
// needle, not found when the needle is longer than the haystack. The same
// bound as two_way_find.
inline SearchResult two_way_rfind(ByteRange haystack, ByteRange needle) noexcept {
    return two_way_find_with<Direction::last>(
        haystack, needle, [](std::uint8_t a, std::uint8_t b) noexcept { return a == b; });
}

}  // namespace qarvo::detail
