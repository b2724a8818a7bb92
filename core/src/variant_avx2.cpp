// The AVX2 variant: 32-byte vectors; ranges too short for one 32-byte step
// take two overlapping 16-byte SSE2 steps where they can, and one 16-byte
// step of exact loads (Sse2Exact) below that. Only this file is
// built for AVX2, and only CPUs that have what it was built for run it
// (qarvo_variant in core/CMakeLists.txt).
#define QARVO_ISA_NAMESPACE isa_avx2

#include "any.hpp"
#include "bucket_variants.hpp"
#include "folded_variants.hpp"
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
    &find_any<Avx2, Sse2, Sse2Exact>,
    &rfind_any<Avx2, Sse2, Sse2Exact>,
    &find_not_any<Avx2, Sse2, Sse2Exact>,
    &rfind_not_any<Avx2, Sse2, Sse2Exact>,
    &avx2_find_starts,
    &avx2_count_starts,
    &avx2_find_folded,
    &avx2_rfind_folded,
    &avx2_find_bucket_hits,
    &avx2_find_stride_hits,
};

const LongSearchParts avx2_long_parts{
    Avx2::kWidth,
    &plain_prefix_part<Avx2>,
    &ranked_after_prefix_part<Avx2, Sse2, Sse2Exact>,
};

}  // namespace qarvo::detail
