// Many needles in one pass: a set of needles prepared once into an
// automaton, then searched for in any number of haystacks.
//
// Matches follow a regular expression engine's leftmost-first rule for the
// alternation of the needles in their given order: the match that starts
// leftmost, and among the needles that start there the one listed first.
// A scan goes on after the end of each match; an empty needle matches at
// every offset (see MultiScan for how it interleaves with the others).
//
// Like the rest of the core, nothing here allocates, throws or includes
// Python: the caller asks how many bytes a set needs (multi_bytes_needed),
// provides that memory, and the automaton is built into it (multi_build).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "qarvo/buckets.hpp"
#include "qarvo/search.hpp"
#include "qarvo/stride_keys.hpp"

namespace qarvo {

// The prepared set, living inside the memory given to multi_build. It is
// immutable once built: any number of threads may search with it at once.
struct MultiAutomaton {
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};
    // Set in a dense transition when the target state has an output or is
    // sparse: the search loop leaves its fast path only on this bit.
    static constexpr std::uint32_t kSpecial = std::uint32_t{1} << 31;

    std::uint32_t needle_count = 0;
    std::uint32_t first_empty = kNone;  // the first empty needle's index
    std::uint32_t state_count = 0;      // trie states, the root (0) included
    std::uint32_t dense_count = 0;      // states 0 .. dense_count - 1 have dense rows
    std::uint32_t stride_shift = 0;     // a dense row holds 1 << stride_shift entries
    std::uint32_t longest = 0;          // the longest needle's length
    bool has_prefilter = false;         // few anchor bytes: skip to them from the root
    std::uint8_t classes[256] = {};     // byte -> class (both cases alike under ignore_case)
    // Every non-empty needle holds a byte of this set within its first
    // anchor_reach + 1 bytes (its likely rarest there): a match starts at
    // most anchor_reach bytes before such a byte.
    ByteSet anchor_bytes;
    std::uint32_t anchor_reach = 0;

    // Sets of up to kBucketNeedles needles also get a bucket filter: the
    // needles that can win (non-empty, and no earlier needle a prefix of
    // them) shared out among its buckets, and kept here to be compared
    // where the filter stops. MultiScan searches with it in place of the
    // automaton while it pays (multi_search.cpp).
    static constexpr std::size_t kBucketNeedles = 64;
    struct BucketNeedle {
        std::uint32_t index;   // in the set
        std::uint32_t length;  // below buckets.width only in short_buckets
        std::uint32_t offset;  // of its bytes in needle_bytes (folded under ignore_case)
        // Its up to four bytes from `shift` on, as a word loaded from memory
        // reads them (head), and the bytes of that word it has (head_mask):
        // most of a hit's needles are turned away by one compare of the word
        // at the hit with this.
        std::uint32_t head;
        std::uint32_t head_mask;
        // Where its fingerprint lies: the filter's `width` bytes are its
        // bytes shift .. shift + width - 1, so a hit at q stands for a start
        // at q - shift.
        std::uint32_t shift;
    };
    // A needle's fingerprint may lie up to kMaxBucketShift bytes into it:
    // in its likely rarest `width` bytes, past a common opening (the
    // indentation of a line of code).
    static constexpr std::uint32_t kMaxBucketShift = 8;
    bool has_buckets = false;
    std::uint32_t bucket_max_shift = 0;  // the largest shift of the set
    // Needles shorter than buckets.width are in the buckets of these bits
    // only; the filter passes any byte at a position past a needle's end,
    // but it tests only offsets with all `width` bytes in the haystack, so
    // the last width - bucket_shortest starts are compared separately.
    std::uint8_t short_buckets = 0;
    std::uint32_t bucket_shortest = 0;  // the shortest of the bucket needles
    // With a filter of four bytes, the heads of the needles outside
    // short_buckets hashed into a bitmap: a hit whose word's hash is not in
    // it starts none of them, whatever buckets the nibbles passed. Nibble
    // tables shared by eight needles pass many words none of them has.
    static constexpr std::uint32_t kHeadHashBits = 12;
    bool heads_hashed = false;
    std::uint64_t head_hashes[(std::size_t{1} << kHeadHashBits) / 64] = {};
    static std::uint32_t head_hash(std::uint32_t word) noexcept {
        return (word * 0x9E3779B1U) >> (32 - kHeadHashBits);
    }
    bool ignore_case = false;
    BucketFilter buckets;
    // Bucket b holds bucket_needles[bucket_begin[b] .. bucket_begin[b + 1] - 1],
    // in increasing index order.
    std::uint8_t bucket_begin[BucketFilter::kBuckets + 1] = {};
    const BucketNeedle* bucket_needles = nullptr;
    const std::uint8_t* needle_bytes = nullptr;

    // Larger sets whose needles are all at least two bytes long get a start
    // filter: a bitmap of the keys of the needles' first start_width bytes
    // (2: the two bytes themselves; 4: a hash of four, when every needle has
    // four), every case of a letter under ignore_case. An offset whose key
    // is not in it starts no needle. 0: no start filter.
    // With a width of 4, an offset whose key passes must also have its
    // first two bytes in start_pairs (indexed as key_of<2>): the two tests
    // miss each other's false alarms.
    static constexpr std::uint32_t kStartKeyBits = 17;
    std::uint32_t start_width = 0;
    const std::uint64_t* start_keys = nullptr;   // 1 << kStartKeyBits bits
    const std::uint64_t* start_pairs = nullptr;  // 1 << 16 bits, width 4 only
    // When every needle has stride.width + 1 bytes or more, the scan tests
    // every stride.step-th offset q first (find_stride_hits): a needle
    // starting at q - k (k < step) holds the stride.width bytes at q from its
    // byte k on, and stride.keys holds the step keys of every needle. The
    // step is 3 where every needle is long enough, else 2. The width is 2
    // (the pair itself) or 3 (a hash of three bytes), 0 for no stride. Pairs are
    // 16 bits of the 64 Ki-bit table; a set of more than
    // kMaxStridePairNeedles needles would set too many of them, and takes
    // the hash into StrideFilter::kHashBits bits (a table of 128 KiB, held
    // in the second-level cache, against 8 KiB in the first for pairs).
    static constexpr std::size_t kMaxStridePairNeedles = 512;
    StrideFilter stride;
    // The key of the `Width` bytes at `p`.
    template <std::uint32_t Width>
    static std::uint32_t key_of(const std::uint8_t* p) noexcept {
        if constexpr (Width == 2) {
            return StrideFilter::key_of<2>(p);  // the pair itself, as the stride keys
        } else {
            std::uint32_t word;
            std::memcpy(&word, p, 4);
            return (word * 0x9E3779B1U) >> (32 - kStartKeyBits);
        }
    }
    std::uint32_t start_key(const std::uint8_t* p) const noexcept {
        return start_width == 2 ? key_of<2>(p) : key_of<4>(p);
    }

    // Per state, in breadth-first order (so a state's failure state, being
    // shallower, comes first).
    const std::uint32_t* depth = nullptr;
    const std::uint32_t* fail = nullptr;
    const std::uint32_t* out_length = nullptr;  // longest needle ending here, 0 if none
    const std::uint32_t* out_index = nullptr;   // its index
    const std::uint32_t* edge_begin = nullptr;  // children: edges edge_begin .. edge_end
    const std::uint32_t* edge_end = nullptr;
    const std::uint8_t* edge_class = nullptr;  // sorted within a state
    const std::uint32_t* edge_target = nullptr;
    // Rows of the dense states: entry c of state s's row is the encoded
    // state after a byte of class c (encode()).
    const std::uint32_t* dense = nullptr;

    // A state as the dense rows hold it: a dense state's row offset, or
    // past every row for a sparse one; kSpecial when it has an output or
    // is sparse.
    std::uint32_t encode(std::uint32_t state) const noexcept {
        const std::uint32_t raw = state < dense_count
                                      ? state << stride_shift
                                      : (dense_count << stride_shift) + (state - dense_count);
        return raw | (out_length[state] != 0 || state >= dense_count ? kSpecial : 0);
    }
    std::uint32_t decode(std::uint32_t encoded) const noexcept {
        const std::uint32_t raw = encoded & ~kSpecial;
        const std::uint32_t rows = dense_count << stride_shift;
        return raw < rows ? raw >> stride_shift : raw - rows + dense_count;
    }
};

// Bytes of memory multi_build needs for these needles (tables and the
// scratch space of the build), or 0 when the set is too large to index
// with 32-bit states (2^30 needle bytes or more).
std::size_t multi_bytes_needed(std::span<const ByteRange> needles) noexcept;

// Builds the automaton of `needles` (in their order; ignore_case folds
// ASCII letters as bytes.lower() does) into `memory`, which holds at least
// multi_bytes_needed(needles) bytes aligned for std::max_align_t, and
// returns it; nullptr when `size` is too small. The needles are not kept.
const MultiAutomaton* multi_build(void* memory, std::size_t size,
                                  std::span<const ByteRange> needles, bool ignore_case) noexcept;

// A match: where it starts, which needle, and that needle's length.
struct MultiMatch {
    std::size_t offset = ~std::size_t{0};
    std::uint32_t index = MultiAutomaton::kNone;
    std::uint32_t length = 0;
    bool found() const noexcept { return index != MultiAutomaton::kNone; }
};

// The byte-set search the prefilter calls: qarvo::find_any, or a given
// variant's (the tests run every one); and the same for the bucket filter.
using FindAnyRoutine = SearchResult (*)(ByteRange, const ByteSet&) noexcept;
using FindBucketHitsRoutine = std::size_t (*)(ByteRange, const BucketFilter&,
                                              std::span<BucketHit>) noexcept;
using FindStrideHitsRoutine = std::size_t (*)(ByteRange, const StrideFilter&,
                                              std::span<std::size_t>) noexcept;
// A one-needle search: qarvo::find_n or find_folded, or a variant's.
using FindNeedleRoutine = SearchResult (*)(ByteRange, ByteRange) noexcept;

// The leftmost-first match of the set's non-empty needles in `haystack`
// starting at or after `from`. Empty needles are not considered here.
MultiMatch multi_find(const MultiAutomaton& automaton, ByteRange haystack,
                      std::size_t from) noexcept;

// Every match in `haystack`, left to right, as Python's re.finditer reports
// the alternation of the needles: after a match of m bytes at p the scan
// goes on at p + m. With an empty needle at index e, at each offset p a
// needle listed before e matching at p wins, else the empty needle matches
// at p; then, as re retries an offset after an empty match wanting a
// non-empty one, the first-listed non-empty needle matching at p (if any)
// is reported too and the scan goes on after it, else at p + 1.
//
// Time: every byte passes through the automaton once per search, and a
// search reads at most the longest needle's length beyond the end of the
// match it reports (to rule out an earlier-listed needle starting at the
// same offset), so a scan does O(n + matches * longest) steps; with the
// prefilter on, the skipped bytes are read once by the byte-set search.
// The bucket filter reads each byte at most four times, and its compares
// at candidates are bounded by the bytes it has passed (plus a constant):
// past that bound the scan goes on with the automaton. Searched one needle
// at a time, each needle's search reads a byte once, but for the needle's
// length around each match.
class MultiScan {
public:
    // Precondition: the automaton and the haystack outlive the scan,
    // unchanged.
    MultiScan(const MultiAutomaton& automaton, ByteRange haystack,
              FindAnyRoutine find_any_routine = &find_any,
              FindBucketHitsRoutine find_bucket_hits_routine = &find_bucket_hits,
              FindStrideHitsRoutine find_stride_hits_routine = &find_stride_hits,
              FindNeedleRoutine find_n_routine = &find_n,
              FindNeedleRoutine find_folded_routine = &find_folded) noexcept;

    // Writes up to offsets.size() next matches (offsets.size() ==
    // indices.size()) and returns how many; fewer only when the scan is done.
    std::size_t next_batch(std::span<std::uint64_t> offsets,
                           std::span<std::uint32_t> indices) noexcept;

    // The matches not yet reported, counted; the scan is done afterwards.
    std::size_t count_rest() noexcept;

    bool done() const noexcept { return next_ > haystack_.size; }
    // The first offset not yet examined (n + 1 once done).
    std::size_t position() const noexcept { return next_; }

    // Whether the bucket filter, or the start filter, still serves this
    // scan (tests check the path an input takes).
    bool buckets_on() const noexcept { return buckets_on_; }
    // Whether each needle is searched for on its own (kNeedleScans or
    // fewer needles that can win).
    bool needles_on() const noexcept { return needles_on_; }
    bool start_keys_on() const noexcept { return start_keys_on_; }

    // Sets of at most this many needles that can win are searched for one
    // needle at a time, each with the one-needle search from where the scan
    // stands, its next start kept until the scan passes it: a few passes of
    // the one-needle search cost less than the bucket filter's shuffles, and
    // a match costs one call, not a vector step and a compare per bucket.
    static constexpr std::size_t kNeedleScans = 3;

    // Windows those searches cover at most, together: each of the k needles
    // searches kNeedleChunkBytes / k at a time, within the L2 cache, so that
    // every needle's search reads the chunk the first one brought in and the
    // haystack comes from memory once. A chunk is not smaller, since each
    // search chooses its filter again (64 MiB of code with two or three
    // needles, compare_multi.py; core/TUNING.md).
    static constexpr std::size_t kNeedleChunkBytes = std::size_t{1} << 20;

    // From kDenseFrom bytes on, a scan whose searches cover fewer than
    // kDenseCallBytes bytes each, over its first kCallsBeforeJudging of them
    // or later, goes over to the bucket filter: each search costs a plan of
    // its own, and with a match every few KiB those cost more than the
    // filter's one pass (two binary needles planted every 4 KiB in 64 MiB,
    // compare_multi.py; core/TUNING.md).
    static constexpr std::size_t kDenseFrom = std::size_t{2} << 20;
    static constexpr std::size_t kDenseCallBytes = 16 * 1024;
    static constexpr std::size_t kCallsBeforeJudging = 8;

private:
    static constexpr std::size_t kHitBuffer = 32;

    bool advance(MultiMatch& out) noexcept;
    MultiMatch leftmost_from(std::size_t from) noexcept;
    // The leftmost match from `from` by the bucket filter; when the filter
    // stops paying it turns itself off and hands the rest to the automaton.
    MultiMatch leftmost_by_buckets(std::size_t from) noexcept;
    MultiMatch leftmost_by_automaton(std::size_t from) noexcept;
    MultiMatch leftmost_by_needles(std::size_t from) noexcept;
    void match_at(const BucketHit& hit, std::size_t from, MultiMatch& best) noexcept;
    void match_tail(std::size_t at, std::size_t from, MultiMatch& best) noexcept;
    template <bool kFolded>
    std::size_t sift_by_heads(std::size_t count) noexcept;
    // The same with the start filter, each candidate checked in the trie.
    MultiMatch leftmost_by_start_keys(std::size_t from) noexcept;
    std::size_t next_by_stride(std::size_t at) noexcept;

    const MultiAutomaton* automaton_;
    ByteRange haystack_;
    FindAnyRoutine find_any_;
    std::size_t next_ = 0;
    bool must_advance_ = false;  // an empty match was reported at next_
    // The last search: from `cached_from_` its answer is `cached_`, which
    // holds for any start up to its offset (not found: any start after).
    MultiMatch cached_;
    std::size_t cached_from_ = ~std::size_t{0};
    // The prefilter's record: stops at candidates and the bytes it skipped.
    std::size_t prefilter_stops_ = 0;
    std::size_t prefilter_skipped_ = 0;
    bool prefilter_on_ = false;
    // The bucket filter's candidates: hits_[hit_next_ .. hit_count_ - 1]
    // are every candidate from hits_from_ up to (not including) hits_to_.
    // filter_work_ tallies the checks made at either filter's candidates.
    FindBucketHitsRoutine find_bucket_hits_;
    bool buckets_on_ = false;
    bool start_keys_on_ = false;
    std::size_t filter_work_ = 0;
    std::size_t hits_from_ = 0;
    std::size_t hits_to_ = 0;
    std::size_t hit_count_ = 0;
    std::size_t hit_next_ = 0;
    BucketHit hits_[kHitBuffer];
    // The one-needle searches: bucket needle e's windows from
    // needle_from_[e] up to (not including) needle_to_[e] are known, and
    // its first start there is needle_next_[e] (kNowhere: none).
    static constexpr std::size_t kNowhere = ~std::size_t{0};
    FindNeedleRoutine find_needle_;
    bool needles_on_ = false;
    std::size_t needle_from_[kNeedleScans];
    std::size_t needle_to_[kNeedleScans];
    std::size_t needle_next_[kNeedleScans];
    std::size_t needle_calls_ = 0;  // searches made, and from where the first was
    std::size_t needle_start_ = 0;
    // The stride filter's hits, kept as the bucket filter's are.
    FindStrideHitsRoutine find_stride_hits_;
    std::size_t stride_from_ = 0;
    std::size_t stride_to_ = 0;
    std::size_t stride_count_ = 0;
    std::size_t stride_next_ = 0;
    std::size_t stride_hits_[kHitBuffer];
};

}  // namespace qarvo
