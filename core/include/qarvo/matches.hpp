// Every occurrence of a needle, in batches: the loop behind counting and
// iterating over matches, so that a caller pays one call per batch rather
// than one per match.
//
// Like the searches, a scan never allocates, never throws and only reads
// the two ranges it was given; the caller keeps both alive and unchanged
// between its calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qarvo/search.hpp"

namespace qarvo {

// The occurrences of `needle` in `haystack`, left to right. Non-overlapping
// occurrences are those bytes.count counts: after a match at p the scan goes
// on at p + m (at p + 1 for an empty needle, which occurs at every offset
// 0 .. n). Overlapping occurrences are every offset where the needle starts.
//
// Needles of 2 to kShortNeedleMax bytes are scanned for every start at
// once (find_starts), a chunk of positions per call, which compares at most
// m bytes per position: at most kShortNeedleMax * n bytes in all. The first
// match, and the next after a chunk that held few, is searched with find_n,
// as for longer needles; the scan of starts takes over once a match lies
// close to where that search began.
//
// Linear time: a non-overlapping scan compares O(n + m) bytes in all, since
// every search it makes is linear in what it passes over and the matches do
// not overlap. An overlapping scan of a needle with a short period p (at most
// m / 2: "abab", "aaaa") would compare m bytes per match if it searched
// again after each; instead, after a match at q it tests only the p bytes
// that the window at q + p adds (the others repeat the needle's period), and
// the first offset that could match after a failed test is far enough on to
// pay for a full search. A needle without such a period cannot occur twice
// within m / 2 bytes, so its matches pay for their own comparisons.
class MatchScan {
public:
    // Precondition: both ranges stay readable and unchanged while the scan
    // is used. With `ignore_case`, the occurrences are find_folded's: ASCII
    // letters match either case, and the period is the folded needle's.
    MatchScan(ByteRange haystack, ByteRange needle, bool overlapping,
              bool ignore_case = false) noexcept;

    // Writes the next occurrences, up to out.size() of them, in increasing
    // order, and returns how many it wrote; fewer than out.size() only when
    // the scan is done, or when it searched as far as `horizon`: then it has
    // passed over every window that ends at or before `horizon` (a caller
    // that wants to bound the work of one call; the bytes it reads may still
    // reach a needle's length past it).
    std::size_t next_batch(std::span<std::uint64_t> out,
                           std::size_t horizon = ~std::size_t{0}) noexcept;

    // The occurrences not yet reported, counted without writing them; the
    // scan is done afterwards.
    std::size_t count_rest() noexcept;

    // Tells a new scan that matches lie close together where it starts: a
    // short needle's scan then begins with a chunk of starts, not with a
    // search for the next match. Only speed depends on it.
    void start_dense() noexcept { jumping_ = false; }

    // Whether every occurrence has been reported.
    bool done() const noexcept { return next_ > haystack_.size || needle_.size > haystack_.size; }

    // The first offset not yet examined, for a caller that wants to know how
    // much of the haystack is left (n + 1 once done).
    std::size_t position() const noexcept { return next_; }

private:
    // The next occurrence at or after next_ among the windows that end at
    // or before `horizon`, advancing past it; not found when there is none
    // (the scan is then done, unless the horizon cut it short).
    SearchResult advance(std::size_t horizon) noexcept;

    // A needle of 2 to kShortNeedleMax bytes: next_batch and count_rest by
    // chunks of starts, with find_n (advance) after a sparse chunk.
    std::size_t next_short_batch(std::span<std::uint64_t> out, std::size_t horizon) noexcept;
    std::size_t count_short_rest() noexcept;
    // The end of the next chunk of starts, the range's end at most; it
    // holds every window that starts in the next chunk_ positions.
    std::size_t chunk_stop(std::size_t end) const noexcept;
    // The next match by find_n (advance), after which the scan goes on by
    // chunks of starts if it lay within kSparseGap of where it searched.
    SearchResult jump(std::size_t horizon) noexcept;
    // After a chunk of starts that examined `positions` and found `found`:
    // the next chunk's size, or find_n for the next match if they were few.
    void after_chunk(std::size_t positions, std::size_t found) noexcept;

    ByteRange haystack_;
    ByteRange needle_;
    std::size_t next_ = 0;
    // The step after a match: m, 1, or the needle's period when an
    // overlapping scan of a periodic needle chains from match to match.
    std::size_t step_;
    // Overlapping scans of a periodic needle: the window at next_ is known
    // to agree with the needle in its first m - step_ bytes.
    bool chained_ = false;
    bool periodic_overlap_ = false;
    // Needles of 2 to kShortNeedleMax bytes: the positions of the next chunk
    // of starts, and whether the next match is searched with find_n first
    // (after a sparse chunk).
    bool short_ = false;
    bool jumping_ = true;
    std::size_t chunk_ = 0;
    bool folded_ = false;
};

// The number of occurrences MatchScan(haystack, needle, overlapping,
// ignore_case).count_rest() counts. A non-overlapping count of a needle of
// two bytes or more searches for the first occurrence before it sets up a
// scan: a haystack without one (most short ones) then costs what find_n
// costs.
std::size_t count_matches(ByteRange haystack, ByteRange needle, bool overlapping,
                          bool ignore_case = false) noexcept;

// The smallest period of `needle` when it is at most half its length (the
// needle then repeats a shorter block: "abcabc" has 3), else 0. With
// `folded`, the period of the needle with its ASCII letters folded
// ("abAB" has 2).
std::size_t short_period(ByteRange needle, bool folded = false) noexcept;

}  // namespace qarvo
