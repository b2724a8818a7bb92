// find_n of the AVX-512 variant as it runs on a CPU that executes 512-bit
// operations as two 256-bit halves (AMD's Zen 4; see variants.hpp). There the
// AVX2 variant's loops scan long haystacks faster than the AVX-512 ones. Side
// by side on Zen 4, on the real-data cases, find_n took 0.69 of the time at
// 16 KiB, 0.90 at 100 KiB and 0.93 at 1 MiB (geometric means; down to 0.35
// for some single matches near the end); below 16 KiB the AVX-512 variant
// stays faster. (find_one from 12 MiB took 0.87 to 0.89 too, but routing it
// would cost every short search_one a jump, about a fortieth of its call.)
//
// In a file of its own, compiled without the variants' instruction sets: the
// routine is a compare and a jump through the AVX-512 variant's table, so a
// short haystack reaches that variant's find_n with no frame of its own. In
// the variant's file the compiler inlined that find_n into it, frame and all.
#include "variants.hpp"

#if QARVO_HAVE_AVX512BW

namespace qarvo::detail {

SearchResult find_n_on_halves(ByteRange haystack, ByteRange needle) noexcept {
    if (haystack.size < kRareAnchorsFrom || needle.size < 4 || needle.size > haystack.size) {
        return avx512bw_routines.find_n(haystack, needle);
    }
    return find_long_on_halves(haystack, needle);
}

}  // namespace qarvo::detail

#endif
