// Routes of two variants: one variant's table with its find_n replaced by a
// hand-over to another variant's ranked search on long haystacks, and some
// of its other entries taken from the other variant by length, assembled
// from the two variants' tables (variants.hpp). The dispatcher takes one on
// CPUs that execute 512-bit operations as two 256-bit halves (AMD's Zen 4),
// where the 256-bit variant's loops scan long haystacks faster than the
// 512-bit variant's, while the 512-bit variant stays faster on short ones
// (its masked loads) and keeps the matches its plain prefix finds
// (core/TUNING.md, "Zen 4 hand-over" and "Zen 4 route: every routine by
// length"; the lengths are in filter_policy.hpp). find_one stays with the
// 512-bit variant up to the size of the L2 cache and hands over past it,
// where the 256-bit loop keeps more of the memory's bandwidth; the compare
// in front of it costs a short search_one less than the spread of its own
// timings (core/TUNING.md, "find_one past the L2 cache").
//
// In a file of its own, compiled without the variants' instruction sets: the
// hand-over is a compare and a jump through the wide variant's table, so a
// short haystack reaches that variant's find_n with no frame of its own. In
// the variant's file the compiler inlined that find_n into it, frame and all.
#include <array>
#include <cstddef>
#include <iterator>
#include <span>
#include <utility>

#include "variants.hpp"

namespace qarvo::detail {
namespace {

#define QARVO_BACKEND_OF(name, cpu_check) Backend::name,
constexpr Backend kCompiled[] = {QARVO_FOR_EACH_VARIANT(QARVO_BACKEND_OF)};
#undef QARVO_BACKEND_OF
#define QARVO_TABLE_OF(name, cpu_check) &name##_routines,
constexpr const SearchRoutines* kTables[] = {QARVO_FOR_EACH_VARIANT(QARVO_TABLE_OF)};
#undef QARVO_TABLE_OF
#define QARVO_PARTS_OF(name, cpu_check) &name##_long_parts,
constexpr const LongSearchParts* kParts[] = {QARVO_FOR_EACH_VARIANT(QARVO_PARTS_OF)};
#undef QARVO_PARTS_OF
constexpr std::size_t kVariants = std::size(kCompiled);

// The variants' vector widths in a route on halves: 512 bits and 256.
constexpr std::size_t kWholeBytes = 64;
constexpr std::size_t kHalfBytes = 32;

// The hand-over of a long haystack from the variant kCompiled[kWide] to
// kCompiled[kHalf]: the wide variant's plain prefix, then the other's ranked
// search from where the prefix stopped, without a prefix of its own. Both
// tables are fixed before any search runs, so each entry read here is one
// load from a constant address. Precondition: 4 <= m <= n.
template <std::size_t kWide, std::size_t kHalf>
[[gnu::noinline]] SearchResult hand_over(ByteRange haystack, ByteRange needle) noexcept {
    std::size_t end = 0;  // positions before it are examined, and none matched
    const SearchResult early = kParts[kWide]->plain_prefix(haystack, needle, end);
    if (early.found()) {
        return early;
    }
    return kParts[kHalf]->ranked_after_prefix(haystack, needle, end);
}

// find_n of the route: the wide variant's own below kRareAnchorsFrom bytes
// and for needles of 1 to 3 bytes, reached with no frame of this function's
// (the hand-over's frame is hand_over's).
template <std::size_t kWide, std::size_t kHalf>
SearchResult find_n_handing_over(ByteRange haystack, ByteRange needle) noexcept {
    if (haystack.size < kRareAnchorsFrom || needle.size < 4 || needle.size > haystack.size) {
        return kTables[kWide]->find_n(haystack, needle);
    }
    return hand_over<kWide, kHalf>(haystack, needle);
}

// An entry of the route that runs kCompiled[kWide]'s routine on haystacks
// below kFrom bytes and kCompiled[kHalf]'s from there on: a compare and a
// jump through one of the two tables, with no frame of its own.
template <class Entry, Entry kEntry, std::size_t kFrom, std::size_t kWide, std::size_t kHalf>
struct ByLength;

template <class R, class... Args, R (*SearchRoutines::*kEntry)(ByteRange, Args...) noexcept,
          std::size_t kFrom, std::size_t kWide, std::size_t kHalf>
struct ByLength<R (*SearchRoutines::*)(ByteRange, Args...) noexcept, kEntry, kFrom, kWide, kHalf> {
    static R route(ByteRange haystack, Args... args) noexcept {
        if (haystack.size < kFrom) {
            return (kTables[kWide]->*kEntry)(haystack, args...);
        }
        return (kTables[kHalf]->*kEntry)(haystack, args...);
    }
};

template <auto kEntry, std::size_t kFrom, std::size_t kWide, std::size_t kHalf>
constexpr auto by_length() noexcept {
    return &ByLength<decltype(kEntry), kEntry, kFrom, kWide, kHalf>::route;
}

// The table of kCompiled[kWide] with the hand-over as its find_n and the
// entries below taken by length from both variants: a copy of the whole
// table, so every other entry is the wide variant's. Made by the
// first call (a routine's address in another object cannot be read at
// compile time), under the guard of a function's static.
template <std::size_t kWide, std::size_t kHalf>
const SearchRoutines* handing_over_table() noexcept {
    static const SearchRoutines table = [] {
        using S = SearchRoutines;
        SearchRoutines copy = *kTables[kWide];
        copy.find_n = &find_n_handing_over<kWide, kHalf>;
        copy.find_one = by_length<&S::find_one, kRouteOneFrom, kWide, kHalf>();
        copy.find_two = by_length<&S::find_two, kRouteFindTwoFrom, kWide, kHalf>();
        copy.find_three = by_length<&S::find_three, kRouteFindTwoFrom, kWide, kHalf>();
        copy.rfind_one = by_length<&S::rfind_one, kRouteReverseOneFrom, kWide, kHalf>();
        copy.rfind_two = by_length<&S::rfind_two, kRouteReverseTwoFrom, kWide, kHalf>();
        copy.rfind_three = by_length<&S::rfind_three, kRouteReverseTwoFrom, kWide, kHalf>();
        copy.rfind_n = by_length<&S::rfind_n, kRouteReverseNFrom, kWide, kHalf>();
        copy.count_one = by_length<&S::count_one, kRouteCountFrom, kWide, kHalf>();
        copy.find_folded = by_length<&S::find_folded, kRouteFoldedFrom, kWide, kHalf>();
        copy.rfind_folded = by_length<&S::rfind_folded, kRouteFoldedFrom, kWide, kHalf>();
        return copy;
    }();
    return &table;
}

using TableMaker = const SearchRoutines* (*)() noexcept;

template <std::size_t... kPair>
constexpr auto table_makers(std::index_sequence<kPair...>) {
    return std::array<TableMaker, sizeof...(kPair)>{
        &handing_over_table<kPair / kVariants, kPair % kVariants>...};
}

// Every ordered pair of compiled variants, wide * kVariants + half.
constexpr auto kTableMakers = table_makers(std::make_index_sequence<kVariants * kVariants>{});

std::size_t index_of(Backend backend) noexcept {
    for (std::size_t k = 0; k < kVariants; ++k) {
        if (kCompiled[k] == backend) {
            return k;
        }
    }
    return kVariants;
}

}  // namespace

const LongSearchParts* long_parts_for(Backend backend) noexcept {
    const std::size_t k = index_of(backend);
    return k == kVariants ? nullptr : kParts[k];
}

const SearchRoutines* routines_handing_over(Backend wide, Backend half) noexcept {
    const std::size_t w = index_of(wide);
    const std::size_t h = index_of(half);
    if (w == kVariants || h == kVariants || !kParts[w]->has_pieces() || !kParts[h]->has_pieces()) {
        return nullptr;
    }
    return kTableMakers[w * kVariants + h]();
}

HalvesPair halves_pair(std::span<const LongSearchParts* const> parts) noexcept {
    if (parts.empty()) {
        return {false, 0, 0};
    }
    const std::size_t wide = parts.size() - 1;
    if (parts[wide]->vector_bytes != kWholeBytes || !parts[wide]->has_pieces()) {
        return {false, 0, 0};
    }
    for (std::size_t k = 0; k < wide; ++k) {
        if (parts[k]->vector_bytes == kHalfBytes && parts[k]->has_pieces()) {
            return {true, wide, k};
        }
    }
    return {false, 0, 0};
}

const SearchRoutines* route_on_halves(std::span<const Backend> supported) noexcept {
    const LongSearchParts* parts[kVariants];
    std::size_t count = 0;
    for (const Backend backend : supported) {
        const std::size_t k = index_of(backend);
        if (k == kVariants || count == kVariants) {
            return nullptr;
        }
        parts[count++] = kParts[k];
    }
    const HalvesPair pair = halves_pair({parts, count});
    return pair.found ? routines_handing_over(supported[pair.wide], supported[pair.half]) : nullptr;
}

}  // namespace qarvo::detail
