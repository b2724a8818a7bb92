// MatchScan: the loop over every occurrence, on the public searches of the
// chosen variant. Built for the baseline CPU: it only calls the searches.
#include "qarvo/matches.hpp"

#include <cassert>
#include <cstring>

#include "filter_policy.hpp"
#include "fold.hpp"
#include "probe.hpp"
#include "worst_case.hpp"

namespace qarvo {
namespace {

// Whether the next match is better searched than found by a scan of starts,
// after one `gap` bytes past the last (which the scan then stepped `step`
// past) with `left` bytes still to go: matches far apart, or too few
// positions left to repay a plan and a pass of starts (kSparseGap,
// kStartsAhead).
bool search_next(std::size_t gap, std::size_t step, std::size_t left) noexcept {
    return gap >= detail::kSparseGap || left / detail::kStartsAhead <= gap + step;
}

}  // namespace

std::size_t short_period(ByteRange needle, bool folded) noexcept {
    if (needle.size < 2) {
        return 0;
    }
    // The critical factorization tells whether the needle is periodic, and
    // then its period is the smallest one; otherwise the smallest period
    // exceeds half the needle.
    const detail::NeedlePeriod cut = detail::needle_period(needle, folded);
    return cut.periodic && 2 * cut.period <= needle.size ? cut.period : 0;
}

MatchScan::MatchScan(ByteRange haystack, ByteRange needle, bool overlapping,
                     bool ignore_case) noexcept
    : haystack_(haystack),
      needle_(needle),
      step_(needle.size == 0 ? 1 : needle.size),
      folded_(ignore_case) {
    if (overlapping && needle.size > 0) {
        const std::size_t period = short_period(needle, ignore_case);
        periodic_overlap_ = period != 0;
        step_ = period != 0 ? period : 1;
    }
    // The starts compare bytes exactly: a folded scan searches match by match.
    short_ = !ignore_case && needle.size >= 2 && needle.size <= kShortNeedleMax;
    chunk_ = detail::kStartsChunk;
}

SearchResult MatchScan::advance(std::size_t horizon) noexcept {
    const std::size_t n = haystack_.size;
    const std::size_t m = needle_.size;
    if (done()) {
        return SearchResult::not_found();
    }
    if (m == 0) {
        return SearchResult::at(next_++);
    }
    if (chained_) {
        // The window at next_ repeats the last match shifted by the period:
        // only its last step_ bytes are new.
        assert(periodic_overlap_ && step_ < m);
        QARVO_PROBE_COMPARED(step_);
        const auto added_matches = [&] {
            const std::uint8_t* const added = haystack_.data + next_ + (m - step_);
            const std::uint8_t* const expected = needle_.data + (m - step_);
            return folded_ ? detail::equal_folded_bytes(added, expected, step_)
                           : std::memcmp(added, expected, step_) == 0;
        };
        if (m <= n - next_ && added_matches()) {
            const std::size_t found = next_;
            next_ += step_;
            return SearchResult::at(found);
        }
        // No occurrence starts at next_; none between the last match and
        // it could either (the period is the needle's smallest).
        chained_ = false;
        ++next_;
    }
    if (next_ > n || m > n - next_) {
        next_ = n + 1;
        return SearchResult::not_found();
    }
    const std::size_t end = horizon < n ? horizon : n;
    if (end < next_ || m > end - next_) {
        return SearchResult::not_found();  // cut short: nothing ends by the horizon
    }
    const ByteRange rest{haystack_.data + next_, end - next_};
    const SearchResult found = folded_  ? find_folded(rest, needle_)
                               : m == 1 ? find_one(rest, needle_.data[0])
                                        : find_n(rest, needle_);
    if (!found.found()) {
        // Every window ending by `end` is passed over; the next starts here.
        next_ = end < n ? end - m + 1 : n + 1;
        return found;
    }
    const std::size_t at = next_ + found.offset();
    next_ = at + step_;
    chained_ = periodic_overlap_;
    return SearchResult::at(at);
}

std::size_t MatchScan::chunk_stop(std::size_t end) const noexcept {
    const std::size_t m = needle_.size;
    assert(next_ <= end && m <= end - next_);
    return end - next_ - (m - 1) > chunk_ ? next_ + chunk_ + (m - 1) : end;
}

void MatchScan::after_chunk(std::size_t positions, std::size_t found) noexcept {
    if (found * detail::kSparseGap < positions) {
        QARVO_PROBE_PATH(kSparseStartsJumped);
        jumping_ = true;
        chunk_ = detail::kStartsChunk;
    } else if (chunk_ < detail::kStartsChunkMost) {
        chunk_ *= 2;
    }
}

SearchResult MatchScan::jump(std::size_t horizon) noexcept {
    const std::size_t from = next_;
    const SearchResult found = advance(horizon);
    // The chain of a periodic needle is left to the starts that follow.
    chained_ = false;
    if (found.found()) {
        // The scan moved gap + step_ bytes for this match: the positions
        // left hold about left / (gap + step_) more like it.
        const std::size_t gap = found.offset() - from;
        const std::size_t left = done() ? 0 : haystack_.size - next_;
        jumping_ = search_next(gap, step_, left);
    }
    return found;
}

std::size_t MatchScan::next_short_batch(std::span<std::uint64_t> out,
                                        std::size_t horizon) noexcept {
    const std::size_t n = haystack_.size;
    const std::size_t m = needle_.size;
    const std::size_t end = horizon < n ? horizon : n;
    std::size_t written = 0;
    while (written < out.size() && !done()) {
        if (jumping_) {
            const SearchResult found = jump(horizon);
            if (!found.found()) {
                break;
            }
            out[written++] = found.offset();
            continue;
        }
        if (end < next_ || m > end - next_) {
            if (end == n) {
                next_ = n + 1;
            }
            break;  // done, or cut short: nothing ends by the horizon
        }
        QARVO_PROBE_PATH(kShortStarts);
        const std::size_t stop = chunk_stop(end);
        StartsCursor cursor{next_, step_};
        const std::size_t got =
            find_starts(ByteRange{haystack_.data, stop}, needle_, cursor, out.subspan(written));
        written += got;
        const std::size_t positions = stop - m + 1 - next_;
        next_ = cursor.next;
        if (written == out.size()) {
            break;  // full; the chunk goes on from next_ on the next call
        }
        if (stop == n) {
            next_ = n + 1;
            break;
        }
        if (stop == end) {
            break;  // every window that ends by the horizon is passed over
        }
        after_chunk(positions, got);
    }
    return written;
}

std::size_t MatchScan::count_short_rest() noexcept {
    const std::size_t n = haystack_.size;
    const std::size_t m = needle_.size;
    std::size_t count = 0;
    while (!done()) {
        if (jumping_) {
            if (!jump(~std::size_t{0}).found()) {
                break;
            }
            ++count;
            continue;
        }
        if (m > n - next_) {
            next_ = n + 1;
            break;
        }
        QARVO_PROBE_PATH(kShortStarts);
        const std::size_t stop = chunk_stop(n);
        StartsCursor cursor{next_, step_};
        const std::size_t got = count_starts(ByteRange{haystack_.data, stop}, needle_, cursor);
        count += got;
        const std::size_t positions = stop - m + 1 - next_;
        next_ = cursor.next;
        if (stop == n) {
            next_ = n + 1;
            break;
        }
        after_chunk(positions, got);
    }
    return count;
}

std::size_t MatchScan::next_batch(std::span<std::uint64_t> out, std::size_t horizon) noexcept {
    if (short_) {
        return next_short_batch(out, horizon);
    }
    std::size_t written = 0;
    while (written < out.size()) {
        const SearchResult found = advance(horizon);
        if (!found.found()) {
            break;
        }
        out[written++] = found.offset();
    }
    return written;
}

std::size_t MatchScan::count_rest() noexcept {
    const std::size_t n = haystack_.size;
    if (done()) {
        return 0;
    }
    if (needle_.size == 0) {
        const std::size_t count = n - next_ + 1;
        next_ = n + 1;
        return count;
    }
    if (short_) {
        return count_short_rest();
    }
    if (needle_.size == 1) {
        // Ignoring case, a letter is counted in each case: two passes of
        // the count, which is faster than one search per match.
        const ByteRange rest{haystack_.data + next_, n - next_};
        const std::uint8_t byte = needle_.data[0];
        const std::uint8_t other = folded_ ? detail::other_case(byte) : byte;
        const std::size_t count =
            count_one(rest, byte) + (other != byte ? count_one(rest, other) : 0);
        next_ = n + 1;
        return count;
    }
    std::size_t count = 0;
    while (advance(~std::size_t{0}).found()) {
        ++count;
    }
    return count;
}

namespace {

// count_matches of two or more bytes, not overlapping. Occurrences that do
// not overlap are counted greedily from the left: those after one are the
// rest's own. While they lie far apart they are searched one by one here, by
// the rule MatchScan's jumps follow (search_next), without its bookkeeping
// per match (two sparse matches in 1 KiB of Russian, compare_matches.py's
// count rows); from the second on, as a MatchScan set up after the first
// match would, the first closer one hands the rest to a MatchScan that goes
// on as a dense one. Out of line: its frame would otherwise slow the count of one
// byte, which takes no search (the one-byte count rows).
// Precondition: 2 <= m <= n.
[[gnu::noinline]] std::size_t count_apart(ByteRange haystack, ByteRange needle,
                                          bool ignore_case) noexcept {
    std::size_t count = 0;
    std::size_t next = 0;  // the first offset not yet searched
    for (;;) {
        const ByteRange rest{haystack.data + next, haystack.size - next};
        if (rest.size < needle.size) {
            return count;
        }
        const SearchResult found = ignore_case ? find_folded(rest, needle) : find_n(rest, needle);
        if (!found.found()) {
            return count;
        }
        ++count;
        next += found.offset() + needle.size;
        const std::size_t gap = found.offset();
        const std::size_t left = haystack.size - next;
        if (count > 1 && !search_next(gap, needle.size, left)) {
            break;
        }
    }
    MatchScan scan(ByteRange{haystack.data + next, haystack.size - next}, needle, false,
                   ignore_case);
    scan.start_dense();
    return count + scan.count_rest();
}

}  // namespace

std::size_t count_matches(ByteRange haystack, ByteRange needle, bool overlapping,
                          bool ignore_case) noexcept {
    // One exact byte is counted by count_one straight away: a MatchScan
    // would come to the same call after its setup, which the count of a
    // short haystack pays in full (compare_matches.py's one-byte count rows).
    if (needle.size == 1 && !ignore_case) {
        return count_one(haystack, needle.data[0]);
    }
    // (An overlapping count would step past the first match by the period.)
    if (overlapping || needle.size < 2 || needle.size > haystack.size) {
        return MatchScan(haystack, needle, overlapping, ignore_case).count_rest();
    }
    return count_apart(haystack, needle, ignore_case);
}

}  // namespace qarvo
