// The AVX2 variant: 32-byte vectors; ranges too short for one 32-byte step
// take two overlapping 16-byte SSE2 steps where they can, and one 16-byte
// step of exact loads (Sse2Exact) below that. Only this file is
// built for AVX2, and only CPUs that have what it was built for run it
// (qarvo_variant in core/CMakeLists.txt).
#define QARVO_ISA_NAMESPACE isa_avx2

#include "n.hpp"
#include "reverse_variants.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines avx2_routines{
    Backend::avx2,
    &find_one<Avx2, Sse2, Sse2Exact>,
    &find_two<Avx2, Sse2, Sse2Exact>,
    &find_three<Avx2, Sse2, Sse2Exact>,
    &find_n<Avx2, Sse2, Sse2Exact>,
    &avx2_rfind_one,
    &avx2_rfind_two,
    &avx2_rfind_three,
    &avx2_rfind_n,
    &avx2_count_one,
};

#if QARVO_HAVE_AVX512BW
SearchResult find_ranked_after_prefix_avx2(ByteRange haystack, ByteRange needle,
                                           std::size_t end) noexcept {
    constexpr std::size_t W = Avx2::kWidth;
    // A needle that leaves no room for one wide step after the prefix (one
    // nearly as long as the haystack) takes the whole find_n, which examines
    // the prefix's few positions again.
    if (haystack.size - end < 5 * W + needle.size - 1) {
        return avx2_routines.find_n(haystack, needle);
    }
    return find_ranked_after_prefix<Avx2, Sse2, Sse2Exact>(haystack, needle, end);
}
#endif

}  // namespace qarvo::detail
