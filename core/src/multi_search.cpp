// The search with a MultiAutomaton, and the scan that reports every match
// with re's rules for empty needles.
//
// A search runs the automaton byte by byte through the dense rows until a
// transition carries kSpecial (a state with an output, or a sparse one).
// From the first output on, it keeps the best match seen (leftmost start,
// then lowest index) and goes on while the state's depth still reaches
// back to that start: only then can a needle that starts there, or
// earlier, still end later. At the root, when the needles' anchors (each
// needle's likely rarest byte among its first few) are few, the byte-set
// search (find_any) skips to the next anchor and the automaton starts as
// far before it as an anchor can lie in a needle; when it keeps stopping
// after a few bytes, as on text where the anchors are common letters, the
// scan turns it off.
//
// A small set's scan (MultiAutomaton::has_buckets) runs neither while its
// bucket filter pays: the filter's vector search (find_bucket_hits) lists
// the offsets where some needle's fingerprint may lie, a buffer at a time;
// a four-byte filter's hits are sifted by a bitmap of the needles' heads
// first, and at each hit left the needles of its buckets are compared where
// they would start. A set of at most kNeedleScans needles that can win is
// searched for one needle at a time instead.
// Where candidates come thicker than the compares can afford (many
// needles, or ones common in the text), the automaton takes the rest of
// the scan.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "probe.hpp"
#include "qarvo/multi.hpp"

namespace qarvo {
namespace {

using u32 = std::uint32_t;
constexpr u32 kNoState = MultiAutomaton::kNone;

// The prefilter stays on while it skips at least kSkipPerStop bytes per
// stop on average, judged after kStopsBeforeJudging stops.
constexpr std::size_t kStopsBeforeJudging = 32;
constexpr std::size_t kSkipPerStop = 8;

// A filter's checks at its candidates (the bucket filter's compares, the
// start filter's trie walks) may cost up to one unit of work per byte it has
// passed (the bucket filter less, below), plus kFilterWorkSlack, before the
// scan turns to the automaton; a compare of m needle bytes costs
// 1 + m / kCompareBytesPerWork units, a step of the trie one. The slack is
// small: a scan of a few KiB whose candidates come thick would otherwise
// spend it all before turning, and a unit costs about what a byte of the
// automaton does (compare_multi.py, 64 needles over 1 KiB of text and code;
// core/TUNING.md).
constexpr std::size_t kFilterWorkSlack = 128;
constexpr std::size_t kCompareBytesPerWork = 16;

// The bucket filter's units run dearer: each is a needle tried at a hit,
// a branch on its head that the text makes hard to predict. Its checks may
// cost two thirds of a unit per byte passed (kBucketWorkShare*), the slack
// alike: at a whole unit the filter went on where the automaton read nearly
// twice as fast (64 needles cut from the standard library's code, a match
// every few hundred bytes: compare_multi.py at 64 MiB; core/TUNING.md).
constexpr std::size_t kBucketWorkShareNumerator = 2;
constexpr std::size_t kBucketWorkShareDenominator = 3;

// Whether the bucket filter's checks have outrun their share of the bytes
// up to `at`.
bool buckets_outran(std::size_t work, std::size_t at) noexcept {
    return work * kBucketWorkShareDenominator > (at + kFilterWorkSlack) * kBucketWorkShareNumerator;
}

// The word's ASCII capitals made small, each byte alone.
std::uint32_t folded_word(std::uint32_t x) noexcept {
    const std::uint32_t low7 = x & 0x7F7F7F7FU;
    const std::uint32_t at_least_a = low7 + 0x3F3F3F3FU;  // bit 7: the byte is 'A' or above
    const std::uint32_t above_z = low7 + 0x25252525U;     // bit 7: the byte is above 'Z'
    const std::uint32_t capital = at_least_a & ~above_z & ~x & 0x80808080U;
    return x | (capital >> 2);
}

// Whether `length` haystack bytes at `at` equal the needle's `bytes`,
// stored folded under ignore_case.
bool equal(const std::uint8_t* at, const std::uint8_t* bytes, std::size_t length,
           bool ignore_case) noexcept {
    if (!ignore_case) {
        return std::memcmp(at, bytes, length) == 0;
    }
    for (std::size_t k = 0; k < length; ++k) {
        const std::uint8_t b = at[k];
        if ((b >= 'A' && b <= 'Z' ? b + 32 : b) != bytes[k]) {
            return false;
        }
    }
    return true;
}

unsigned bit_of(const std::uint64_t* bits, u32 index) noexcept {
    return static_cast<unsigned>((bits[index >> 6] >> (index & 63)) & 1);
}

bool has_bit(const std::uint64_t* bits, u32 index) noexcept {
    return bit_of(bits, index) != 0;
}

// The next offset from `at` whose start key is in the set's start filter
// (and, with a width of 4, whose first two bytes are in its pairs), or n
// when none is. Four offsets are tested per round with one branch, so their
// table loads overlap.
template <u32 Width>
std::size_t next_start_candidate(const MultiAutomaton& a, const std::uint8_t* p, std::size_t at,
                                 std::size_t n) noexcept {
    const std::uint64_t* const keys = a.start_keys;
    // As unsigned, to be ORed without a branch.
    const auto passes = [&](std::size_t q) {
        return static_cast<unsigned>(has_bit(keys, MultiAutomaton::key_of<Width>(p + q)));
    };
    const auto candidate = [&](std::size_t q) {
        if constexpr (Width == 4) {
            return has_bit(a.start_pairs, MultiAutomaton::key_of<2>(p + q));
        } else {
            return true;
        }
    };
    for (;;) {
        for (; at + 3 + Width <= n; at += 4) {
            if ((passes(at) | passes(at + 1) | passes(at + 2) | passes(at + 3)) != 0) {
                break;
            }
        }
        for (const std::size_t stop = std::min(at + 4, n - std::min<std::size_t>(n, Width - 1));
             at < stop; ++at) {
            if (passes(at) != 0 && candidate(at)) {
                return at;
            }
        }
        if (at + Width > n) {
            return n;
        }
    }
}

// 1 when offset q, with q + start_width <= n, passes the start filter,
// else 0; both tables are read, with no branch between them.
unsigned passes_start_filter(const MultiAutomaton& a, const std::uint8_t* p,
                             std::size_t q) noexcept {
    if (a.start_width == 2) {
        return bit_of(a.start_keys, MultiAutomaton::key_of<2>(p + q));
    }
    return bit_of(a.start_keys, MultiAutomaton::key_of<4>(p + q)) &
           bit_of(a.start_pairs, MultiAutomaton::key_of<2>(p + q));
}

// The first-listed needle that starts at `at`, by walking the trie from the
// root along the haystack: a transition that does not go one level deeper
// left the trie (a dense row's entry by a failure link), and a state whose
// longest output is as long as it is deep is where a needle ends. Adds the
// steps taken to `work`.
MultiMatch trie_match_at(const MultiAutomaton& a, ByteRange haystack, std::size_t at,
                         std::size_t& work) noexcept {
    MultiMatch best;
    u32 state = 0;
    for (std::size_t k = at; k < haystack.size; ++k) {
        const u32 c = a.classes[haystack.data[k]];
        u32 next = kNoState;
        if (state < a.dense_count) {
            next = a.decode(a.dense[(state << a.stride_shift) + c]);
            if (a.depth[next] != a.depth[state] + 1) {
                break;
            }
        } else {
            // The edges are sorted by class, as step() reads them.
            const std::uint8_t* edge = a.edge_class + a.edge_begin[state];
            const std::uint8_t* const end = a.edge_class + a.edge_end[state];
            while (edge != end && *edge < c) {
                ++edge;
            }
            if (edge == end || *edge != c) {
                break;
            }
            next = a.edge_target[edge - a.edge_class];
        }
        state = next;
        ++work;
        if (a.out_length[state] == a.depth[state] &&
            (!best.found() || a.out_index[state] < best.index)) {
            best = MultiMatch{at, a.out_index[state], a.depth[state]};
        }
    }
    QARVO_PROBE_MULTI_STEPS(work);
    return best;
}

struct Prefilter {
    FindAnyRoutine find_any;
    std::size_t* stops;
    std::size_t* skipped;
    bool* on;
};

u32 step(const MultiAutomaton& a, u32 state, u32 c) noexcept {
    for (;;) {
        QARVO_PROBE_MULTI_STEPS(1);
        if (state < a.dense_count) {
            return a.decode(a.dense[(state << a.stride_shift) + c]);
        }
        const std::uint8_t* begin = a.edge_class + a.edge_begin[state];
        const std::uint8_t* end = a.edge_class + a.edge_end[state];
        for (const std::uint8_t* e = begin; e != end && *e <= c; ++e) {
            if (*e == c) {
                return a.edge_target[e - a.edge_class];
            }
        }
        state = a.fail[state];
    }
}

MultiMatch search(const MultiAutomaton& a, ByteRange haystack, std::size_t at,
                  const Prefilter* prefilter) noexcept {
    const std::uint8_t* const p = haystack.data;
    const std::size_t n = haystack.size;
    const u32* const dense = a.dense;
    const std::uint8_t* const classes = a.classes;
    u32 v = 0;  // the root, encoded
    for (;;) {
        if (prefilter != nullptr && *prefilter->on) {
            // The automaton runs at least to the last anchor found before
            // the prefilter is asked again, so each byte is passed over by
            // the byte-set search once.
            std::size_t ask_from = at;
            while (at < n) {
                if (v == 0 && at >= ask_from) {
                    const SearchResult next =
                        prefilter->find_any(ByteRange{p + at, n - at}, a.anchor_bytes);
                    if (!next.found()) {
                        QARVO_PROBE_MULTI_STEPS(n - at);
                        return MultiMatch{};
                    }
                    QARVO_PROBE_MULTI_STEPS(next.offset());
                    const std::size_t anchor = at + next.offset();
                    ask_from = anchor + 1;
                    *prefilter->skipped += next.offset();
                    // A match holding this anchor starts at most
                    // anchor_reach bytes before it, and none starts before
                    // `at`.
                    at = anchor - std::min<std::size_t>(next.offset(), a.anchor_reach);
                    if (++*prefilter->stops >= kStopsBeforeJudging &&
                        *prefilter->skipped < kSkipPerStop * *prefilter->stops) {
                        *prefilter->on = false;
                    }
                }
                QARVO_PROBE_MULTI_STEPS(1);
                v = dense[v + classes[p[at++]]];
                if ((v & MultiAutomaton::kSpecial) != 0 || !*prefilter->on) {
                    break;
                }
            }
        }
        if ((v & MultiAutomaton::kSpecial) == 0) {
            [[maybe_unused]] const std::size_t start = at;
            while (at < n) {
                v = dense[v + classes[p[at++]]];
                if ((v & MultiAutomaton::kSpecial) != 0) {
                    break;
                }
            }
            QARVO_PROBE_MULTI_STEPS(at - start);
            if ((v & MultiAutomaton::kSpecial) == 0) {
                return MultiMatch{};  // the end, with no output met
            }
        }
        // A state with an output, or a sparse one.
        u32 state = a.decode(v);
        MultiMatch best;
        for (;;) {
            if (const u32 length = a.out_length[state]; length != 0) {
                const std::size_t start = at - length;
                const u32 index = a.out_index[state];
                if (!best.found() || start < best.offset ||
                    (start == best.offset && index < best.index)) {
                    best = MultiMatch{start, index, length};
                }
            }
            if (best.found()) {
                if (a.depth[state] < at - best.offset) {
                    return best;  // no needle starting at best.offset can end later
                }
            } else if (state < a.dense_count) {
                v = state << a.stride_shift;  // dense, no output: back to the rows
                break;
            }
            if (at == n) {
                return best;
            }
            state = step(a, state, classes[p[at++]]);
        }
        if (at == n) {
            return MultiMatch{};
        }
    }
}

}  // namespace

MultiMatch multi_find(const MultiAutomaton& automaton, ByteRange haystack,
                      std::size_t from) noexcept {
    if (from >= haystack.size || automaton.state_count <= 1) {
        return MultiMatch{};
    }
    return search(automaton, haystack, from, nullptr);
}

MultiScan::MultiScan(const MultiAutomaton& automaton, ByteRange haystack,
                     FindAnyRoutine find_any_routine,
                     FindBucketHitsRoutine find_bucket_hits_routine,
                     FindStrideHitsRoutine find_stride_hits_routine,
                     FindNeedleRoutine find_n_routine,
                     FindNeedleRoutine find_folded_routine) noexcept
    : automaton_(&automaton),
      haystack_(haystack),
      find_any_(find_any_routine),
      prefilter_on_(automaton.has_prefilter),
      find_bucket_hits_(find_bucket_hits_routine),
      buckets_on_(automaton.has_buckets),
      start_keys_on_(automaton.start_width != 0),
      find_needle_(automaton.ignore_case ? find_folded_routine : find_n_routine),
      needles_on_(automaton.has_buckets &&
                  automaton.bucket_begin[BucketFilter::kBuckets] <= kNeedleScans),
      find_stride_hits_(find_stride_hits_routine) {
    for (std::size_t e = 0; e < kNeedleScans; ++e) {
        needle_from_[e] = kNowhere;
        needle_to_[e] = kNowhere;
        needle_next_[e] = kNowhere;
    }
}

MultiMatch MultiScan::leftmost_from(std::size_t from) noexcept {
    // The last answer holds for any start from cached_from_ up to its offset.
    if (cached_from_ <= from && (!cached_.found() || cached_.offset >= from)) {
        return cached_;
    }
    cached_from_ = from;
    if (from >= haystack_.size || automaton_->state_count <= 1) {
        cached_ = MultiMatch{};
    } else if (needles_on_) {
        cached_ = leftmost_by_needles(from);
    } else if (buckets_on_) {
        cached_ = leftmost_by_buckets(from);
    } else if (start_keys_on_) {
        cached_ = leftmost_by_start_keys(from);
    } else {
        cached_ = leftmost_by_automaton(from);
    }
    return cached_;
}

MultiMatch MultiScan::leftmost_by_automaton(std::size_t from) noexcept {
    const Prefilter prefilter{find_any_, &prefilter_stops_, &prefilter_skipped_, &prefilter_on_};
    return search(*automaton_, haystack_, from, prefilter_on_ ? &prefilter : nullptr);
}

// The earliest of each needle's next start from `from`, the first-listed of
// equals. Each needle's starts are known over a range of windows: its first
// start there, or none. A range is searched on a chunk (a share of
// kNeedleChunkBytes) at a time, the needle known least far first, and only
// while it could still hold a start at or before the best found: so the
// searches of every needle move through the haystack together, each reading
// a chunk the others have just brought into the cache, and a needle's start
// is searched for again only once the scan has passed it (or when asked
// from before its range).
MultiMatch MultiScan::leftmost_by_needles(std::size_t from) noexcept {
    const MultiAutomaton& a = *automaton_;
    const std::size_t live = a.bucket_begin[BucketFilter::kBuckets];
    const std::size_t n = haystack_.size;
    for (std::size_t e = 0; e < live; ++e) {
        const bool passed =
            needle_next_[e] != kNowhere ? needle_next_[e] < from : needle_to_[e] < from;
        if (needle_from_[e] > from || passed) {
            needle_from_[e] = from;
            needle_to_[e] = from;
            needle_next_[e] = kNowhere;
        }
    }
    for (;;) {
        MultiMatch best;
        for (std::size_t e = 0; e < live; ++e) {
            const std::size_t next = needle_next_[e];
            const MultiAutomaton::BucketNeedle& needle = a.bucket_needles[e];
            if (next != kNowhere && (!best.found() || next < best.offset ||
                                     (next == best.offset && needle.index < best.index))) {
                best = MultiMatch{next, needle.index, needle.length};
            }
        }
        // The needle known least far that could still start at or before
        // the best: windows from needle_to_ on are unknown.
        std::size_t lagging = live;
        for (std::size_t e = 0; e < live; ++e) {
            const std::size_t length = a.bucket_needles[e].length;
            const std::size_t to = needle_to_[e];
            const bool exhausted = length > n || to > n - length;
            if (needle_next_[e] == kNowhere && !exhausted && (!best.found() || to <= best.offset) &&
                (lagging == live || to < needle_to_[lagging])) {
                lagging = e;
            }
        }
        if (lagging == live) {
            // Dense matches in a long haystack: the bucket filter from the
            // next call on (this answer stands).
            if (n >= kDenseFrom && needle_calls_ >= kCallsBeforeJudging && from >= needle_start_ &&
                from - needle_start_ < needle_calls_ * kDenseCallBytes && buckets_on_) {
                needles_on_ = false;
            }
            return best;
        }
        const MultiAutomaton::BucketNeedle& needle = a.bucket_needles[lagging];
        const std::size_t at = needle_to_[lagging];
        const std::size_t windows_left = n - needle.length + 1 - at;
        const std::size_t chunk = kNeedleChunkBytes / live;
        const std::size_t windows = windows_left < chunk ? windows_left : chunk;
        if (needle_calls_++ == 0) {
            needle_start_ = from;
        }
        const SearchResult found =
            find_needle_(ByteRange{haystack_.data + at, windows + needle.length - 1},
                         ByteRange{a.needle_bytes + needle.offset, needle.length});
        if (found.found()) {
            needle_next_[lagging] = at + found.offset();
            needle_to_[lagging] = at + found.offset() + 1;
        } else {
            needle_to_[lagging] = at + windows;
        }
        QARVO_PROBE_MULTI_STEPS((found.found() ? found.offset() : windows) / kCompareBytesPerWork);
    }
}

// A hit at q stands for starts q - shift, one for each needle of its
// buckets, so a start found at q may not be the leftmost: hits up to
// q + bucket_max_shift can still start earlier. The scan keeps the best
// start so far (leftmost, then first-listed) until the hits pass that.
MultiMatch MultiScan::leftmost_by_buckets(std::size_t from) noexcept {
    const std::size_t n = haystack_.size;
    const std::size_t width = automaton_->buckets.width;
    const std::size_t reach = automaton_->bucket_max_shift;
    MultiMatch best;
    std::size_t at = from;
    // The last call may have read hits past the start it returned, and so
    // past `from`: back to the first at or after it.
    while (hit_next_ > 0 && hit_next_ <= hit_count_ && hits_[hit_next_ - 1].offset >= from) {
        --hit_next_;
    }
    for (;;) {
        if (at < hits_from_ || at >= hits_to_) {
            if (at + width > n) {
                match_tail(at, from, best);  // no fingerprint fits
                return best;
            }
            hit_count_ = find_bucket_hits_(ByteRange{haystack_.data + at, n - at},
                                           automaton_->buckets, std::span<BucketHit>(hits_));
            for (std::size_t k = 0; k < hit_count_; ++k) {
                hits_[k].offset += at;
            }
            hits_from_ = at;
            hits_to_ = hit_count_ == kHitBuffer ? hits_[kHitBuffer - 1].offset + 1 : n + 1;
            if (automaton_->heads_hashed) {
                hit_count_ = automaton_->ignore_case ? sift_by_heads<true>(hit_count_)
                                                     : sift_by_heads<false>(hit_count_);
            }
            QARVO_PROBE_MULTI_STEPS(std::min(hits_to_, n) - at);
            hit_next_ = 0;
        }
        while (hit_next_ < hit_count_ && hits_[hit_next_].offset < at) {
            ++hit_next_;
        }
        if (hit_next_ == hit_count_) {
            if (hits_to_ > n) {
                match_tail(at, from, best);
                return best;
            }
            if (best.found() && hits_to_ > best.offset + reach) {
                // Every later hit stands for a later start: done, keeping
                // the buffer for the next call, which starts before its end.
                return best;
            }
            at = hits_to_;
            continue;
        }
        const BucketHit& hit = hits_[hit_next_];
        if (best.found() && hit.offset > best.offset + reach) {
            return best;
        }
        match_at(hit, from, best);
        at = hit.offset + 1;
        ++hit_next_;
        if (buckets_outran(filter_work_, at)) {
            // Candidates come too thick, or the compares run long: the
            // automaton goes on, at its steady rate, from the first start
            // not yet ruled out.
            buckets_on_ = false;
            std::size_t restart = at > reach ? at - reach : 0;
            restart = std::max(from, best.found() ? std::min(restart, best.offset) : restart);
            return restart < n ? leftmost_by_automaton(restart) : MultiMatch{};
        }
    }
}

MultiMatch MultiScan::leftmost_by_start_keys(std::size_t from) noexcept {
    const MultiAutomaton& a = *automaton_;
    const std::uint8_t* const p = haystack_.data;
    const std::size_t n = haystack_.size;
    std::size_t at = from;
    for (;;) {
        const std::size_t candidate = a.stride.width != 0  ? next_by_stride(at)
                                      : a.start_width == 2 ? next_start_candidate<2>(a, p, at, n)
                                                           : next_start_candidate<4>(a, p, at, n);
        QARVO_PROBE_MULTI_STEPS(candidate - at);
        if (candidate == n) {
            return MultiMatch{};
        }
        std::size_t work = 1;
        const MultiMatch match = trie_match_at(a, haystack_, candidate, work);
        filter_work_ += work;
        if (match.found()) {
            return match;
        }
        at = candidate + 1;
        if (filter_work_ > at + kFilterWorkSlack) {
            start_keys_on_ = false;  // as leftmost_by_buckets
            return leftmost_by_automaton(at);
        }
    }
}

// The next offset from `at` that passes the start filter, found by the
// stride filter's hits, a buffer at a time: a hit q stands for the starts
// q - step + 1 .. q (not before `at`), as a needle starting at any of them
// holds the bytes at q. Any offset p from `at` on is one of these for the
// first grid point q >= p of a grid from `at` or from any earlier offset,
// so a buffer filled from an earlier offset serves as well as a new one.
// Every offset up to n - width - step + 1, the last a needle can start at,
// is so covered.
std::size_t MultiScan::next_by_stride(std::size_t at) noexcept {
    const MultiAutomaton& a = *automaton_;
    const std::uint8_t* const p = haystack_.data;
    const std::size_t n = haystack_.size;
    for (;;) {
        if (at < stride_from_ || at >= stride_to_) {
            if (at + a.stride.width > n) {
                return n;
            }
            stride_count_ = find_stride_hits_(ByteRange{p + at, n - at}, a.stride,
                                              std::span<std::size_t>(stride_hits_));
            for (std::size_t k = 0; k < stride_count_; ++k) {
                stride_hits_[k] += at;
            }
            stride_from_ = at;
            stride_to_ = stride_count_ == kHitBuffer ? stride_hits_[kHitBuffer - 1] + 1 : n + 1;
            stride_next_ = 0;
            QARVO_PROBE_MULTI_STEPS(std::min(stride_to_, n) - at);
        }
        while (stride_next_ < stride_count_ && stride_hits_[stride_next_] < at) {
            ++stride_next_;
        }
        if (stride_next_ == stride_count_) {
            if (stride_to_ > n) {
                return n;
            }
            at = stride_to_;
            continue;
        }
        const std::size_t q = stride_hits_[stride_next_];
        const std::size_t step = a.stride.step;
        if (q + 1 >= at + step && q + a.start_width <= n) [[likely]] {
            // Every start the hit stands for is in range: all of them are
            // tested without a branch, as most hits pass none (a branch on
            // each would be mispredicted about as often as taken).
            unsigned passing = 0;
            for (std::size_t k = 0; k < step; ++k) {
                passing |= passes_start_filter(a, p, q + 1 - step + k) << k;
            }
            if (passing != 0) {
                return q + 1 - step + static_cast<unsigned>(__builtin_ctz(passing));
            }
        } else {
            for (std::size_t back = step; back-- > 0;) {
                if (back > q) {
                    continue;
                }
                const std::size_t candidate = q - back;
                if (candidate >= at && candidate + a.start_width <= n &&
                    passes_start_filter(a, p, candidate) != 0) {
                    return candidate;
                }
            }
        }
        ++stride_next_;
        at = q + 1;
    }
}

// Drops from the first `count` hits the buckets of long needles where the
// word at the hit is no long needle's head (MultiAutomaton::head_hashes),
// and the hits left with no bucket; returns how many are kept. Without a
// branch per hit: thick hits are mostly turned away here, and a branch on
// each would be mispredicted about as often as taken.
template <bool kFolded>
std::size_t MultiScan::sift_by_heads(std::size_t count) noexcept {
    const MultiAutomaton& a = *automaton_;
    std::size_t kept = 0;
    for (std::size_t k = 0; k < count; ++k) {
        BucketHit hit = hits_[k];
        std::uint32_t word;  // a hit of a four-byte filter has its four bytes
        std::memcpy(&word, haystack_.data + hit.offset, 4);
        if constexpr (kFolded) {
            word = folded_word(word);
        }
        const u32 hash = MultiAutomaton::head_hash(word);
        const bool known = ((a.head_hashes[hash / 64] >> (hash % 64)) & 1) != 0;
        hit.buckets &= known ? std::uint8_t{0xFF} : a.short_buckets;
        hits_[kept] = hit;
        kept += hit.buckets != 0 ? 1 : 0;
    }
    return kept;
}

// The needles shorter than the filter that start from `at` on where no
// fingerprint fits: at the last width - bucket_shortest offsets that hold
// one of them.
void MultiScan::match_tail(std::size_t at, std::size_t from, MultiMatch& best) noexcept {
    const MultiAutomaton& a = *automaton_;
    const std::size_t n = haystack_.size;
    if (a.short_buckets == 0 || n < a.bucket_shortest) {
        return;
    }
    const std::size_t last = n - a.bucket_shortest;
    for (std::size_t q = std::max(at, n - std::min<std::size_t>(n, a.buckets.width - 1)); q <= last;
         ++q) {
        if (best.found() && q > best.offset) {
            return;  // short needles start where their hit is
        }
        match_at(BucketHit{q, a.short_buckets}, from, best);
    }
}

// The needles of the hit's buckets that start where it says (at its offset
// less their shift, not before `from`), each compared only when its head
// agrees with the word at the hit and it would better `best`: an earlier
// start, or the same one and listed first.
void MultiScan::match_at(const BucketHit& hit, std::size_t from, MultiMatch& best) noexcept {
    const MultiAutomaton& a = *automaton_;
    const std::size_t n = haystack_.size;
    std::uint32_t word = 0;  // the bytes past the end, if any, as zeros: no needle reaches them
    if (n - hit.offset >= 4) [[likely]] {
        std::memcpy(&word, haystack_.data + hit.offset, 4);
    } else {
        std::memcpy(&word, haystack_.data + hit.offset, n - hit.offset);
    }
    if (a.ignore_case) {
        word = folded_word(word);
    }
    for (unsigned bits = hit.buckets; bits != 0; bits &= bits - 1) {
        const unsigned bucket = static_cast<unsigned>(__builtin_ctz(bits));
        for (std::size_t e = a.bucket_begin[bucket]; e < a.bucket_begin[bucket + 1]; ++e) {
            const MultiAutomaton::BucketNeedle& needle = a.bucket_needles[e];
            ++filter_work_;
            QARVO_PROBE_MULTI_STEPS(1);
            if ((word & needle.head_mask) != needle.head || needle.shift > hit.offset - from) {
                continue;  // another needle, or one that would start before `from`
            }
            const std::size_t start = hit.offset - needle.shift;
            if ((best.found() &&
                 (start > best.offset || (start == best.offset && needle.index > best.index))) ||
                needle.length > n - start) {
                continue;
            }
            const std::size_t work = needle.length / kCompareBytesPerWork;
            filter_work_ += work;
            QARVO_PROBE_MULTI_STEPS(work);
            if (equal(haystack_.data + start, a.needle_bytes + needle.offset, needle.length,
                      a.ignore_case)) {
                best = MultiMatch{start, needle.index, needle.length};
            }
        }
    }
}

bool MultiScan::advance(MultiMatch& out) noexcept {
    const u32 empty = automaton_->first_empty;
    while (next_ <= haystack_.size) {
        const MultiMatch found = leftmost_from(next_);
        if (empty == MultiAutomaton::kNone) {
            if (!found.found()) {
                next_ = haystack_.size + 1;
                return false;
            }
            out = found;
            next_ = found.offset + found.length;
            return true;
        }
        const bool here = found.found() && found.offset == next_;
        if (!must_advance_) {
            if (here && found.index < empty) {
                out = found;
                next_ += found.length;
                return true;
            }
            out = MultiMatch{next_, empty, 0};
            must_advance_ = true;
            return true;
        }
        // re's retry after an empty match: a non-empty one here, or on.
        must_advance_ = false;
        if (here) {
            out = found;
            next_ += found.length;
            return true;
        }
        ++next_;
    }
    return false;
}

std::size_t MultiScan::next_batch(std::span<std::uint64_t> offsets,
                                  std::span<std::uint32_t> indices) noexcept {
    std::size_t got = 0;
    MultiMatch match;
    while (got < offsets.size() && got < indices.size() && advance(match)) {
        offsets[got] = match.offset;
        indices[got] = match.index;
        ++got;
    }
    return got;
}

std::size_t MultiScan::count_rest() noexcept {
    std::size_t count = 0;
    MultiMatch match;
    while (advance(match)) {
        ++count;
    }
    return count;
}

}  // namespace qarvo
