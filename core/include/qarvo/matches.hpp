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
    bool folded_ = false;
};

// The smallest period of `needle` when it is at most half its length (the
// needle then repeats a shorter block: "abcabc" has 3), else 0. With
// `folded`, the period of the needle with its ASCII letters folded
// ("abAB" has 2).
std::size_t short_period(ByteRange needle, bool folded = false) noexcept;

}  // namespace qarvo
