// The routine tables of the variants compiled into this build, one per
// variant_*.cpp, named <variant>_routines. Which exist, and what each needs
// of the CPU, is decided by the build (qarvo_variant in core/CMakeLists.txt).
#pragma once

#include <cstddef>

#include "filter_policy.hpp"
#include "qarvo/backend.hpp"
#include "variant_requirements.hpp"

namespace qarvo::detail {

#define QARVO_DECLARE_ROUTINES(name, cpu_check) extern const SearchRoutines name##_routines;
QARVO_FOR_EACH_VARIANT(QARVO_DECLARE_ROUTINES)
#undef QARVO_DECLARE_ROUTINES

#if QARVO_HAVE_AVX512BW
// The AVX-512 variant as it runs by default on a CPU that executes 512-bit
// operations as two 256-bit halves (runs_512_bits_as_halves). Its find_n,
// find_n_on_halves, hands haystacks of kRareAnchorsFrom bytes or more
// (needles of 4 bytes or more) to find_long_on_halves: the variant's plain
// prefix over the first kPlainPrefix positions, stopping early at a few
// false candidates, then the AVX2 variant's ranked search from where it
// stopped (find_ranked_after_prefix_avx2), with no prefix of its own.
// Its other routines are the variant's own. Its backend is avx512bw;
// QARVO_BACKEND=avx512bw runs avx512bw_routines.
extern const SearchRoutines avx512bw_on_halves_routines;
SearchResult find_n_on_halves(ByteRange haystack, ByteRange needle) noexcept;
// Precondition: 4 <= m <= n.
SearchResult find_long_on_halves(ByteRange haystack, ByteRange needle) noexcept;
// The AVX2 variant's find_ranked_after_prefix: the ranked search of what a
// plain prefix that stopped at `end` left of the haystack (the caller's,
// find_long_on_halves); the variant's whole find_n when that leaves no room
// for one wide step. Precondition: 4 <= m <= n, end <= n.
SearchResult find_ranked_after_prefix_avx2(ByteRange haystack, ByteRange needle,
                                           std::size_t end) noexcept;
#endif

// Whether the CPU executes each 512-bit vector operation as two 256-bit
// halves: AMD's family 19h (Zen 3 and Zen 4; of these only Zen 4 has
// AVX-512). Always false off x86-64.
bool runs_512_bits_as_halves() noexcept;

}  // namespace qarvo::detail
