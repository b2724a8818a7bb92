// The build of a MultiAutomaton: a trie of the needles over byte classes,
// numbered breadth first, with Aho-Corasick failure links, each state's
// longest output, and dense transition rows for as many of the shallowest
// states as kDenseEntries allows (the search spends most of its steps
// near the root); deeper states keep sorted sparse edges and fall back
// along their failure links.
//
// Leftmost-first needs one change to the trie: a needle that an earlier
// needle is a prefix of (or equal to) is left out, since wherever it starts
// the earlier one starts too and wins. Every other needle can win.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "byte_rank.hpp"
#include "qarvo/multi.hpp"

namespace qarvo {
namespace {

using u32 = std::uint32_t;
constexpr u32 kNone = MultiAutomaton::kNone;

// Dense row entries at most: beyond, deeper states are sparse. Bounds the
// memory of a large set and the time to fill the rows (prepare_5000 in
// bench/python/compare_multi.py times a 5,000-needle build).
constexpr std::size_t kDenseEntries = std::size_t{1} << 20;
// The prefilter runs when the needles' anchors are at most this many
// distinct bytes: a byte-set search is then likely to skip far (a few
// words in text, anchored on their rarer letters; binary needles).
constexpr std::size_t kPrefilterBytes = 16;
// Anchors are chosen among a needle's first bytes: a hit costs the
// automaton at most this many bytes before it (compare_multi.py, text rows
// of 2 and 8 needles).
constexpr std::size_t kAnchorWindow = 4;
// 2^30 needle bytes at most: states and encoded rows stay below kSpecial.
constexpr std::size_t kMaxNeedleBytes = std::size_t{1} << 30;

constexpr std::uint8_t fold(std::uint8_t b, bool ignore_case) noexcept {
    return ignore_case && b >= 'A' && b <= 'Z' ? static_cast<std::uint8_t>(b + 32) : b;
}

// How the memory is cut: the tables first (they stay), then the build's
// scratch space.
struct Layout {
    std::size_t states = 0;  // at most: every needle byte plus the root
    std::size_t dense_entries = 0;
    std::size_t header = 0, depth = 0, fail = 0, out_length = 0, out_index = 0, edge_begin = 0,
                edge_end = 0, edge_target = 0, dense = 0, edge_class = 0, bucket_needles = 0,
                needle_bytes = 0, start_keys = 0, start_pairs = 0, stride_keys = 0;
    // scratch
    std::size_t first_child = 0, next_sibling = 0, node_class = 0, own = 0, node_depth = 0,
                new_id = 0, old_of = 0, root_children = 0;
    std::size_t total = 0;
};

constexpr std::size_t round_up(std::size_t n) noexcept {
    return (n + 15) & ~std::size_t{15};
}

// The shift of the smallest power of two holding `classes` entries.
u32 stride_shift_for(std::size_t classes) noexcept {
    u32 shift = 0;
    while ((std::size_t{1} << shift) < classes) {
        ++shift;
    }
    return shift;
}

// Classes without folding: at least as many as with it, so the bound
// holds for either.
std::size_t class_bound(std::span<const ByteRange> needles) noexcept {
    bool used[256] = {};
    std::size_t distinct = 0;
    for (const ByteRange& needle : needles) {
        for (std::size_t k = 0; k < needle.size; ++k) {
            if (!used[needle.data[k]]) {
                used[needle.data[k]] = true;
                ++distinct;
            }
        }
    }
    return distinct < 256 ? distinct + 1 : 256;
}

bool layout_of(std::span<const ByteRange> needles, Layout& layout) noexcept {
    std::size_t bytes = 0;
    for (const ByteRange& needle : needles) {
        if (needle.size >= kMaxNeedleBytes - bytes) {
            return false;
        }
        bytes += needle.size;
    }
    if (needles.size() >= kNone) {
        return false;
    }
    const std::size_t states = bytes + 1;
    const std::size_t stride = std::size_t{1} << stride_shift_for(class_bound(needles));
    layout.states = states;
    layout.dense_entries = std::min(states * stride, std::max(kDenseEntries, stride));
    std::size_t at = round_up(sizeof(MultiAutomaton));
    const auto take = [&](std::size_t& field, std::size_t size) {
        field = at;
        at += round_up(size);
    };
    layout.header = 0;
    take(layout.depth, 4 * states);
    take(layout.fail, 4 * states);
    take(layout.out_length, 4 * states);
    take(layout.out_index, 4 * states);
    take(layout.edge_begin, 4 * states);
    take(layout.edge_end, 4 * states);
    take(layout.edge_target, 4 * states);
    take(layout.dense, 4 * layout.dense_entries);
    take(layout.edge_class, states);
    if (needles.size() <= MultiAutomaton::kBucketNeedles) {
        take(layout.bucket_needles, sizeof(MultiAutomaton::BucketNeedle) * needles.size());
        take(layout.needle_bytes, bytes);
    } else {
        take(layout.start_keys, (std::size_t{1} << MultiAutomaton::kStartKeyBits) / 8);
        take(layout.start_pairs, (std::size_t{1} << 16) / 8);
        take(layout.stride_keys, (std::size_t{1} << StrideFilter::kHashBits) / 8);
    }
    take(layout.first_child, 4 * states);
    take(layout.next_sibling, 4 * states);
    take(layout.node_class, states);
    take(layout.own, 4 * states);
    take(layout.node_depth, 4 * states);
    take(layout.new_id, 4 * states);
    take(layout.old_of, 4 * states);
    take(layout.root_children, 4 * 256);
    layout.total = at;
    return true;
}

template <class T>
T* at_offset(void* memory, std::size_t offset) noexcept {
    return reinterpret_cast<T*>(static_cast<std::uint8_t*>(memory) + offset);
}

// The state after `state` reads a byte of class `c`, from the tables
// built so far: every state shallower than the one being built is done.
u32 next_state(const MultiAutomaton& a, u32 state, u32 c) noexcept {
    for (;;) {
        if (state < a.dense_count) {
            return a.decode(a.dense[(state << a.stride_shift) + c]);
        }
        const std::uint8_t* begin = a.edge_class + a.edge_begin[state];
        const std::uint8_t* end = a.edge_class + a.edge_end[state];
        const std::uint8_t* hit = std::lower_bound(begin, end, static_cast<std::uint8_t>(c));
        if (hit != end && *hit == c) {
            return a.edge_target[hit - a.edge_class];
        }
        state = a.fail[state];
    }
}

// The offset of a needle's fingerprint: the `width` bytes, starting at most
// kMaxBucketShift bytes in, whose ranks (byte_rank.hpp) add up least, the
// earliest of equals. A needle of code that opens with its line's
// indentation is fingerprinted past it, where its letters are, rather than
// on spaces that every indented line holds (compare_multi.py --data code).
std::size_t bucket_shift(ByteRange needle, std::size_t width, bool ignore_case) noexcept {
    const std::size_t last =
        std::min<std::size_t>(needle.size - width, MultiAutomaton::kMaxBucketShift);
    std::size_t best = 0;
    std::size_t best_score = ~std::size_t{0};
    for (std::size_t shift = 0; shift <= last; ++shift) {
        std::size_t score = 0;
        for (std::size_t k = 0; k < width; ++k) {
            score += detail::kByteRank.of[fold(needle.data[shift + k], ignore_case)];
        }
        if (score < best_score) {
            best = shift;
            best_score = score;
        }
    }
    return best;
}

// The bucket filter of a small set (MultiAutomaton::has_buckets): the
// needles that can win, sorted by their fingerprints (`width` bytes from
// each one's bucket_shift) and cut into up to kBuckets runs of about equal
// length, so that alike fingerprints share a bucket and its nibble tables
// stay sparse. Each fingerprint sets its bucket's bit in the tables, both
// cases of a letter under ignore_case.
//
// Needles shorter than the filter's width do not narrow it for the others:
// they get buckets of their own (short_buckets), in which every byte passes
// at the positions past a needle's end. A set of code with two three-byte
// needles among 62 longer ones was otherwise filtered on three bytes
// throughout, and passed a candidate every three bytes (compare_multi.py
// --data code, 64 needles; core/TUNING.md).
void build_buckets(MultiAutomaton& a, std::span<const ByteRange> needles, const bool* can_win,
                   bool ignore_case, MultiAutomaton::BucketNeedle* kept,
                   std::uint8_t* bytes) noexcept {
    constexpr std::size_t kBuckets = BucketFilter::kBuckets;
    u32 order[MultiAutomaton::kBucketNeedles];
    std::size_t live = 0;
    std::size_t longest = 0;
    std::size_t shortest = ~std::size_t{0};
    for (std::size_t index = 0; index < needles.size(); ++index) {
        if (can_win[index] && needles[index].size != 0) {
            order[live++] = static_cast<u32>(index);
            longest = std::max(longest, needles[index].size);
            shortest = std::min(shortest, needles[index].size);
        }
    }
    if (live == 0) {
        return;
    }
    // A needle to a bucket is told apart in three bytes; buckets shared by
    // several needles pass more nibble pairs, and a fourth byte pays for its
    // extra lookups (compare_multi.py: binary, 64 needles, against text, 2).
    const std::size_t width = std::min(longest, live > kBuckets ? std::size_t{4} : std::size_t{3});
    const auto is_short = [&](u32 index) { return needles[index].size < width; };
    u32 shift_of[MultiAutomaton::kBucketNeedles] = {};
    u32 max_shift = 0;
    std::size_t short_count = 0;
    for (std::size_t e = 0; e < live; ++e) {
        if (is_short(order[e])) {
            ++short_count;  // fingerprinted from its start, as far as it goes
            continue;
        }
        shift_of[order[e]] = static_cast<u32>(bucket_shift(needles[order[e]], width, ignore_case));
        max_shift = std::max(max_shift, shift_of[order[e]]);
    }
    // The short needles first, then by fingerprint (a short one's bytes
    // past its end count as below every byte).
    const auto fingerprint_less = [&](u32 x, u32 y) {
        if (is_short(x) != is_short(y)) {
            return is_short(x);
        }
        for (std::size_t k = 0; k < width; ++k) {
            const std::size_t kx = shift_of[x] + k;
            const std::size_t ky = shift_of[y] + k;
            if (kx >= needles[x].size || ky >= needles[y].size) {
                if ((kx >= needles[x].size) != (ky >= needles[y].size)) {
                    return kx >= needles[x].size;
                }
                break;
            }
            const std::uint8_t bx = fold(needles[x].data[kx], ignore_case);
            const std::uint8_t by = fold(needles[y].data[ky], ignore_case);
            if (bx != by) {
                return bx < by;
            }
        }
        return x < y;
    };
    std::sort(order, order + live, fingerprint_less);
    // Buckets shared out between the two kinds by their numbers, each kind
    // having at least one when it has needles.
    const std::size_t bucket_count = std::min(kBuckets, live);
    const std::size_t long_count = live - short_count;
    std::size_t short_buckets = 0;
    if (short_count != 0) {
        short_buckets = long_count == 0 ? bucket_count
                                        : std::clamp<std::size_t>(
                                              (bucket_count * short_count + live / 2) / live, 1,
                                              bucket_count - 1);
    }
    const auto first_of_bucket = [&](std::size_t b) -> std::size_t {
        if (b < short_buckets) {
            return b * short_count / short_buckets;
        }
        return short_count + (b - short_buckets) * long_count / (bucket_count - short_buckets);
    };
    BucketFilter& filter = a.buckets;
    filter.width = static_cast<u32>(width);
    u32 stored = 0;
    for (std::size_t b = 0; b < bucket_count; ++b) {
        const std::size_t begin = first_of_bucket(b);
        const std::size_t end = b + 1 < bucket_count ? first_of_bucket(b + 1) : live;
        a.bucket_begin[b] = static_cast<std::uint8_t>(begin);
        std::sort(order + begin, order + end);  // by index, for the compares
        const auto bit = static_cast<std::uint8_t>(1U << b);
        if (b < short_buckets) {
            a.short_buckets |= bit;
        }
        for (std::size_t e = begin; e < end; ++e) {
            const ByteRange needle = needles[order[e]];
            const u32 shift = shift_of[order[e]];
            std::uint8_t head[4] = {};
            std::uint8_t head_mask[4] = {};
            for (std::size_t k = 0; k < needle.size; ++k) {
                bytes[stored + k] = fold(needle.data[k], ignore_case);
                if (k >= shift && k - shift < 4) {
                    head[k - shift] = bytes[stored + k];
                    head_mask[k - shift] = 0xFF;
                }
            }
            kept[e] = MultiAutomaton::BucketNeedle{
                order[e], static_cast<u32>(needle.size), stored, 0, 0, shift};
            std::memcpy(&kept[e].head, head, 4);
            std::memcpy(&kept[e].head_mask, head_mask, 4);
            if (width == 4 && b >= short_buckets) {
                const u32 hash = MultiAutomaton::head_hash(kept[e].head);
                a.head_hashes[hash / 64] |= std::uint64_t{1} << (hash % 64);
            }
            stored += static_cast<u32>(needle.size);
            for (std::size_t k = 0; k < width; ++k) {
                if (shift + k >= needle.size) {
                    for (std::size_t nibble = 0; nibble < 16; ++nibble) {
                        filter.low[k][nibble] |= bit;
                        filter.high[k][nibble] |= bit;
                    }
                    continue;
                }
                const std::uint8_t byte = fold(needle.data[shift + k], ignore_case);
                filter.low[k][byte & 0x0F] |= bit;
                filter.high[k][byte >> 4] |= bit;
                if (ignore_case && byte >= 'a' && byte <= 'z') {
                    const auto upper = static_cast<std::uint8_t>(byte - 32);
                    filter.low[k][upper & 0x0F] |= bit;
                    filter.high[k][upper >> 4] |= bit;
                }
            }
        }
    }
    for (std::size_t b = bucket_count; b <= kBuckets; ++b) {
        a.bucket_begin[b] = static_cast<std::uint8_t>(live);
    }
    a.bucket_needles = kept;
    a.bucket_max_shift = max_shift;
    a.bucket_shortest = static_cast<u32>(shortest);
    a.heads_hashed = width == 4;
    a.needle_bytes = bytes;
    a.ignore_case = ignore_case;
    a.has_buckets = true;
}

// The start filter of a larger set (MultiAutomaton::start_width), kept
// only while at most one key in kMaxStartKeyShare is set: past that most
// offsets of text would be candidates and the automaton alone is faster.
constexpr std::size_t kMaxStartKeyShare = 8;

// Calls visit(spelled) for every spelling of the first `count` bytes of
// `needle` (count <= 5, at most its length) that folds to the needle's: the
// letters among them in either case under ignore_case.
template <typename Visit>
void for_each_spelling(const ByteRange& needle, std::size_t count, bool ignore_case,
                       Visit visit) noexcept {
    std::uint8_t start[5] = {};
    unsigned letters = 0;
    for (std::size_t k = 0; k < count; ++k) {
        start[k] = fold(needle.data[k], ignore_case);
        if (ignore_case && start[k] >= 'a' && start[k] <= 'z') {
            letters |= 1U << k;
        }
    }
    for (unsigned cases = letters;; cases = (cases - 1) & letters) {
        std::uint8_t spelled[5];
        for (std::size_t k = 0; k < 5; ++k) {
            spelled[k] =
                (cases >> k & 1) != 0 ? static_cast<std::uint8_t>(start[k] - 32) : start[k];
        }
        visit(spelled);
        if (cases == 0) {
            break;
        }
    }
}

std::size_t bits_set(const std::uint64_t* words, std::size_t count) noexcept {
    std::size_t set = 0;
    for (std::size_t w = 0; w < count; ++w) {
        set += static_cast<std::size_t>(std::popcount(words[w]));
    }
    return set;
}

// Fills `keys`, the bitmap of a stride filter of this width and step (every
// needle has step + width - 1 bytes or more): the keys of each needle's
// windows at its bytes 0 .. step - 1. Returns whether it is worth keeping,
// at most one key in kMaxStartKeyShare set.
bool fill_stride_keys(std::uint64_t* keys, const StrideFilter& stride,
                      std::span<const ByteRange> needles, bool ignore_case) noexcept {
    const std::uint32_t key_bits = stride.width == 3 ? StrideFilter::kHashBits : 16;
    const std::size_t words = (std::size_t{1} << key_bits) / 64;
    std::fill_n(keys, words, 0);
    const std::size_t covered = stride.step + stride.width - 1;
    for (const ByteRange& needle : needles) {
        if (needle.size == 0) {
            continue;
        }
        for_each_spelling(needle, covered, ignore_case, [&](const std::uint8_t* spelled) {
            for (std::size_t k = 0; k < stride.step; ++k) {
                const u32 key = stride.width == 2 ? StrideFilter::key_of<2>(spelled + k)
                                                  : StrideFilter::key_of<3>(spelled + k);
                keys[key >> 6] |= std::uint64_t{1} << (key & 63);
            }
        });
    }
    return bits_set(keys, words) * kMaxStartKeyShare <= std::size_t{1} << key_bits;
}

void build_start_keys(MultiAutomaton& a, std::span<const ByteRange> needles, bool ignore_case,
                      std::uint64_t* keys, std::uint64_t* pairs,
                      std::uint64_t* stride_keys) noexcept {
    std::size_t shortest = ~std::size_t{0};
    for (const ByteRange& needle : needles) {
        if (needle.size != 0) {
            shortest = std::min(shortest, needle.size);
        }
    }
    if (shortest < 2 || shortest == ~std::size_t{0}) {
        return;
    }
    constexpr std::size_t kWords = (std::size_t{1} << MultiAutomaton::kStartKeyBits) / 64;
    std::fill_n(keys, kWords, 0);
    std::fill_n(pairs, (std::size_t{1} << 16) / 64, 0);
    a.start_width = shortest >= 4 ? 4 : 2;
    a.start_keys = keys;
    a.start_pairs = a.start_width == 4 ? pairs : nullptr;
    for (const ByteRange& needle : needles) {
        if (needle.size == 0) {
            continue;
        }
        for_each_spelling(needle, std::min<std::size_t>(needle.size, 4), ignore_case,
                          [&](const std::uint8_t* spelled) {
                              const u32 key = a.start_key(spelled);
                              keys[key >> 6] |= std::uint64_t{1} << (key & 63);
                              const u32 pair = MultiAutomaton::key_of<2>(spelled);
                              pairs[pair >> 6] |= std::uint64_t{1} << (pair & 63);
                          });
    }
    const std::size_t possible =
        a.start_width == 2 ? std::size_t{1} << 16 : std::size_t{1} << MultiAutomaton::kStartKeyBits;
    if (bits_set(keys, kWords) * kMaxStartKeyShare > possible) {
        a.start_width = 0;
        a.start_keys = nullptr;
        a.start_pairs = nullptr;
        return;
    }
    // The longest grid step the shortest needle allows first: it tests
    // fewer offsets for as many candidates per byte (each needle sets a key
    // per step). When its keys come too thick, the shorter step's may not;
    // when both do, testing every offset is as quick.
    a.stride = StrideFilter{};
    if (shortest < 3) {
        return;
    }
    const std::uint32_t width =
        shortest == 3 || needles.size() <= MultiAutomaton::kMaxStridePairNeedles ? 2 : 3;
    for (std::uint32_t step = StrideFilter::kMaxStep; step >= 2; --step) {
        if (step + width - 1 > shortest) {
            continue;
        }
        const StrideFilter stride{stride_keys, width, step};
        if (fill_stride_keys(stride_keys, stride, needles, ignore_case)) {
            a.stride = stride;
            return;
        }
    }
}

}  // namespace

std::size_t multi_bytes_needed(std::span<const ByteRange> needles) noexcept {
    Layout layout;
    return layout_of(needles, layout) ? layout.total : 0;
}

const MultiAutomaton* multi_build(void* memory, std::size_t size,
                                  std::span<const ByteRange> needles, bool ignore_case) noexcept {
    Layout layout;
    if (!layout_of(needles, layout) || size < layout.total || memory == nullptr) {
        return nullptr;
    }
    auto* a = new (memory) MultiAutomaton();
    a->needle_count = static_cast<u32>(needles.size());

    // Byte classes: one per byte the needles use (after folding), one for
    // every other byte.
    bool used[256] = {};
    for (const ByteRange& needle : needles) {
        for (std::size_t k = 0; k < needle.size; ++k) {
            used[fold(needle.data[k], ignore_case)] = true;
        }
    }
    std::size_t distinct = 0;
    for (const bool u : used) {
        distinct += u ? 1 : 0;
    }
    const bool has_other = distinct < 256;
    u32 next_class = has_other ? 1 : 0;
    for (std::size_t b = 0; b < 256; ++b) {
        if (used[b]) {
            a->classes[b] = static_cast<std::uint8_t>(next_class++);
        }
    }
    if (ignore_case) {
        for (std::size_t b = 'A'; b <= 'Z'; ++b) {
            a->classes[b] = a->classes[b + 32];
        }
    }
    const std::size_t class_count = next_class;
    a->stride_shift = stride_shift_for(class_count);

    // The trie, numbered as built. Siblings are listed from first_child.
    u32* first_child = at_offset<u32>(memory, layout.first_child);
    u32* next_sibling = at_offset<u32>(memory, layout.next_sibling);
    auto* node_class = at_offset<std::uint8_t>(memory, layout.node_class);
    u32* own = at_offset<u32>(memory, layout.own);
    u32* node_depth = at_offset<u32>(memory, layout.node_depth);
    u32* root_children = at_offset<u32>(memory, layout.root_children);
    std::fill_n(root_children, 256, kNone);
    bool can_win[MultiAutomaton::kBucketNeedles] = {};
    u32 nodes = 1;
    first_child[0] = kNone;
    own[0] = kNone;
    node_depth[0] = 0;
    for (std::size_t index = 0; index < needles.size(); ++index) {
        const ByteRange needle = needles[index];
        if (needle.size == 0) {
            if (a->first_empty == kNone) {
                a->first_empty = static_cast<u32>(index);
            }
            continue;
        }
        a->longest = std::max(a->longest, static_cast<u32>(needle.size));
        u32 node = 0;
        bool shadowed = false;
        for (std::size_t k = 0; k < needle.size && !shadowed; ++k) {
            const u32 c = a->classes[needle.data[k]];
            u32 child = kNone;
            if (node == 0) {
                child = root_children[c];
            } else {
                for (u32 s = first_child[node]; s != kNone; s = next_sibling[s]) {
                    if (node_class[s] == c) {
                        child = s;
                        break;
                    }
                }
            }
            if (child == kNone) {
                child = nodes++;
                first_child[child] = kNone;
                own[child] = kNone;
                node_class[child] = static_cast<std::uint8_t>(c);
                node_depth[child] = node_depth[node] + 1;
                if (node == 0) {
                    root_children[c] = child;
                } else {
                    next_sibling[child] = first_child[node];
                    first_child[node] = child;
                }
            }
            node = child;
            shadowed = own[node] != kNone;  // an earlier needle ends here: it wins
        }
        if (!shadowed) {
            own[node] = static_cast<u32>(index);
        }
        if (index < MultiAutomaton::kBucketNeedles) {
            can_win[index] = !shadowed;
        }
    }
    a->state_count = nodes;
    a->dense_count = static_cast<u32>(std::min<std::size_t>(
        nodes, std::max<std::size_t>(1, layout.dense_entries >> a->stride_shift)));

    // Breadth-first numbering; each state's edges sorted by class.
    u32* depth = at_offset<u32>(memory, layout.depth);
    u32* fail = at_offset<u32>(memory, layout.fail);
    u32* out_length = at_offset<u32>(memory, layout.out_length);
    u32* out_index = at_offset<u32>(memory, layout.out_index);
    u32* edge_begin = at_offset<u32>(memory, layout.edge_begin);
    u32* edge_end = at_offset<u32>(memory, layout.edge_end);
    u32* edge_target = at_offset<u32>(memory, layout.edge_target);
    auto* edge_class = at_offset<std::uint8_t>(memory, layout.edge_class);
    u32* dense = at_offset<u32>(memory, layout.dense);
    u32* old_of = at_offset<u32>(memory, layout.old_of);  // new id -> trie node
    old_of[0] = 0;
    u32 queued = 1;
    u32 edges = 0;
    for (u32 state = 0; state < nodes; ++state) {
        const u32 node = old_of[state];
        edge_begin[state] = edges;
        if (node == 0) {
            for (u32 c = 0; c < 256; ++c) {
                if (root_children[c] != kNone) {
                    edge_class[edges] = static_cast<std::uint8_t>(c);
                    edge_target[edges++] = root_children[c];
                }
            }
        } else {
            for (u32 s = first_child[node]; s != kNone; s = next_sibling[s]) {
                // Insertion into the sorted run.
                u32 k = edges++;
                while (k > edge_begin[state] && edge_class[k - 1] > node_class[s]) {
                    edge_class[k] = edge_class[k - 1];
                    edge_target[k] = edge_target[k - 1];
                    --k;
                }
                edge_class[k] = node_class[s];
                edge_target[k] = s;
            }
        }
        edge_end[state] = edges;
        for (u32 e = edge_begin[state]; e < edges; ++e) {
            old_of[queued] = edge_target[e];
            edge_target[e] = queued++;
        }
        depth[state] = node_depth[node];
    }

    a->depth = depth;
    a->fail = fail;
    a->out_length = out_length;
    a->out_index = out_index;
    a->edge_begin = edge_begin;
    a->edge_end = edge_end;
    a->edge_class = edge_class;
    a->edge_target = edge_target;
    a->dense = dense;

    // Failure links, outputs and dense rows, breadth first: a state's
    // children get theirs from its failure state, shallower and so done.
    fail[0] = 0;
    out_length[0] = 0;
    out_index[0] = kNone;
    for (u32 state = 0; state < nodes; ++state) {
        for (u32 e = edge_begin[state]; e < edge_end[state]; ++e) {
            const u32 child = edge_target[e];
            const u32 f = state == 0 ? 0 : next_state(*a, fail[state], edge_class[e]);
            fail[child] = f;
            const u32 mine = own[old_of[child]];
            out_length[child] = mine != kNone ? depth[child] : out_length[f];
            out_index[child] = mine != kNone ? mine : out_index[f];
        }
        if (state < a->dense_count) {
            u32* row = dense + (std::size_t{state} << a->stride_shift);
            if (state == 0) {
                std::fill_n(row, class_count, a->encode(0));
            } else {
                std::memcpy(row, dense + (std::size_t{fail[state]} << a->stride_shift),
                            4 * class_count);
            }
            for (u32 e = edge_begin[state]; e < edge_end[state]; ++e) {
                row[edge_class[e]] = a->encode(edge_target[e]);
            }
        }
    }

    // The prefilter's anchors: in each needle, the byte likely rarest in
    // typical data among its first kAnchorWindow (both cases under
    // ignore_case).
    bool anchors[256] = {};
    for (const ByteRange& needle : needles) {
        std::size_t best = 0;
        for (std::size_t k = 1; k < std::min(needle.size, kAnchorWindow); ++k) {
            if (detail::kByteRank.of[fold(needle.data[k], ignore_case)] <
                detail::kByteRank.of[fold(needle.data[best], ignore_case)]) {
                best = k;
            }
        }
        if (needle.size != 0) {
            const std::uint8_t b = fold(needle.data[best], ignore_case);
            anchors[b] = true;
            if (ignore_case && b >= 'a' && b <= 'z') {
                anchors[b - 32] = true;
            }
            a->anchor_reach = std::max(a->anchor_reach, static_cast<u32>(best));
        }
    }
    std::uint8_t members[256];
    std::size_t count = 0;
    for (std::size_t b = 0; b < 256; ++b) {
        if (anchors[b]) {
            members[count++] = static_cast<std::uint8_t>(b);
        }
    }
    a->anchor_bytes = ByteSet::of(ByteRange{members, count});
    a->has_prefilter = count > 0 && count <= kPrefilterBytes;

    if (needles.size() <= MultiAutomaton::kBucketNeedles) {
        build_buckets(*a, needles, can_win, ignore_case,
                      at_offset<MultiAutomaton::BucketNeedle>(memory, layout.bucket_needles),
                      at_offset<std::uint8_t>(memory, layout.needle_bytes));
    } else {
        build_start_keys(*a, needles, ignore_case,
                         at_offset<std::uint64_t>(memory, layout.start_keys),
                         at_offset<std::uint64_t>(memory, layout.start_pairs),
                         at_offset<std::uint64_t>(memory, layout.stride_keys));
    }
    return a;
}

}  // namespace qarvo
