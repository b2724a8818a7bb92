// The routine tables of the variants compiled into this build, one pair per
// variant_*.cpp: <variant>_routines, its SearchRoutines, and beside it
// <variant>_long_parts, the pieces of its long search from which the
// dispatcher assembles routes of two variants (halves.cpp). Which variants
// exist, and what each needs of the CPU, is decided by the build
// (qarvo_variant in core/CMakeLists.txt). Variants never call one another:
// only a route joins them, through these tables.
#pragma once

#include <cstddef>
#include <span>

#include "filter_policy.hpp"
#include "qarvo/backend.hpp"
#include "qarvo/search.hpp"
#include "variant_requirements.hpp"

namespace qarvo::detail {

// The pieces of a variant's long search that a route may take: the width of
// its vectors and, for a variant with the wide variants' ranked search, its
// plain prefix and its ranked search after a prefix (null where it has
// none). Both pieces are those of n.hpp: plain_prefix_part and
// ranked_after_prefix_part, whose comments give their contracts.
struct LongSearchParts {
    std::size_t vector_bytes;
    SearchResult (*plain_prefix)(ByteRange haystack, ByteRange needle, std::size_t& end) noexcept;
    SearchResult (*ranked_after_prefix)(ByteRange haystack, ByteRange needle,
                                        std::size_t end) noexcept;

    bool has_pieces() const noexcept {
        return plain_prefix != nullptr && ranked_after_prefix != nullptr;
    }
};

// Hidden: the library's own, so that a route's jump through a table reads
// the entry at a fixed offset from the code, not the table's address from
// the GOT first.
#define QARVO_DECLARE_ROUTINES(name, cpu_check)                                \
    [[gnu::visibility("hidden")]] extern const SearchRoutines name##_routines; \
    [[gnu::visibility("hidden")]] extern const LongSearchParts name##_long_parts;
QARVO_FOR_EACH_VARIANT(QARVO_DECLARE_ROUTINES)
#undef QARVO_DECLARE_ROUTINES

// The pieces of a variant compiled into this build; null for any other.
const LongSearchParts* long_parts_for(Backend backend) noexcept;

// The table of `wide` with find_n replaced by a hand-over: haystacks below
// kRareAnchorsFrom bytes, and needles of fewer than 4 bytes, go to `wide`'s
// own find_n; longer ones get `wide`'s plain prefix, then `half`'s ranked
// search from where the prefix stopped. find_one, find_two, find_three,
// rfind_one, rfind_two, rfind_three, rfind_n, count_one, find_folded and
// rfind_folded run `wide`'s routine below a haystack length of their own
// (kRoute*From, filter_policy.hpp) and `half`'s from it on. Every other
// entry is `wide`'s, so a routine added to SearchRoutines is inherited. Null
// unless both variants are compiled in and have the pieces (the caller
// checks that the CPU runs them). Built on first use, then fixed.
const SearchRoutines* routines_handing_over(Backend wide, Backend half) noexcept;

// Which pair of variants a CPU that executes 512-bit operations as two
// 256-bit halves (runs_512_bits_as_halves) joins, given the pieces of the
// variants it runs, narrowest first: the widest, when its vectors are 512
// bits and it has the pieces, hands long haystacks to the first with 256-bit
// vectors and the pieces, whose loops scan them faster there.
struct HalvesPair {
    bool found;
    std::size_t wide;  // indices into the list
    std::size_t half;
};
HalvesPair halves_pair(std::span<const LongSearchParts* const> parts) noexcept;

// The route for such a CPU among the variants `supported` (as
// supported_backends()): routines_handing_over for halves_pair's choice, or
// null when there is none.
const SearchRoutines* route_on_halves(std::span<const Backend> supported) noexcept;

// Whether the CPU executes each 512-bit vector operation as two 256-bit
// halves: AMD's family 19h (Zen 3 and Zen 4; of these only Zen 4 has
// AVX-512). Always false off x86-64.
bool runs_512_bits_as_halves() noexcept;

// The byte-set searches of a variant built again with more of the CPU's
// instructions (qarvo_set_extension in core/CMakeLists.txt).
struct SetRoutines {
    SearchResult (*find_any)(ByteRange, const ByteSet&) noexcept;
    SearchResult (*rfind_any)(ByteRange, const ByteSet&) noexcept;
    SearchResult (*find_not_any)(ByteRange, const ByteSet&) noexcept;
    SearchResult (*rfind_not_any)(ByteRange, const ByteSet&) noexcept;
};
#if QARVO_HAVE_AVX512BW_BITALG_SETS
[[gnu::visibility("hidden")]] extern const SetRoutines avx512bw_bitalg_set_routines;
#endif

// The table of `backend` with its four byte-set searches taken from its
// extension, where this build has one for it and the CPU runs both; null
// otherwise. Every other entry is the variant's own. Built on first use,
// then fixed.
const SearchRoutines* routines_with_set_extension(Backend backend) noexcept;

}  // namespace qarvo::detail
