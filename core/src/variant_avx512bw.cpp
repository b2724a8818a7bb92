// The AVX-512BW variant: 64-byte vectors with mask registers; ranges too
// short for one 64-byte step take masked loads, so it needs no narrower
// variant. Only this file is built for AVX-512BW, and only CPUs that have
// what it was built for run it (qarvo_variant in core/CMakeLists.txt).
#define QARVO_ISA_NAMESPACE isa_avx512

#include "any.hpp"
#include "bucket_variants.hpp"
#include "folded_variants.hpp"
#include "n.hpp"
#include "reverse_variants.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines avx512bw_routines{
    Backend::avx512bw,
    &find_one<Avx512>,
    &find_two<Avx512>,
    &find_three<Avx512>,
    &find_n<Avx512>,
    &avx512bw_rfind_one,
    &avx512bw_rfind_two,
    &avx512bw_rfind_three,
    &avx512bw_rfind_n,
    &avx512bw_count_one,
    &find_any<Avx512>,
    &rfind_any<Avx512>,
    &find_not_any<Avx512>,
    &rfind_not_any<Avx512>,
    &avx512bw_find_starts,
    &avx512bw_count_starts,
    &avx512bw_find_folded,
    &avx512bw_rfind_folded,
    &avx512bw_find_bucket_hits,
    &avx512bw_find_stride_hits,
};

const LongSearchParts avx512bw_long_parts{
    Avx512::kWidth,
    &plain_prefix_part<Avx512>,
    &ranked_after_prefix_part<Avx512>,
};

}  // namespace qarvo::detail
