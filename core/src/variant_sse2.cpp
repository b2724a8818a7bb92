// The x86-64 baseline variant: 16-byte SSE2 vectors.
#define QARVO_ISA_NAMESPACE isa_sse2

#include "any.hpp"
#include "bucket_variants.hpp"
#include "folded_variants.hpp"
#include "n.hpp"
#include "reverse_variants.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines sse2_routines{
    Backend::sse2,       &find_one<Sse2>,      &find_two<Sse2>,        &find_three<Sse2>,
    &find_n<Sse2>,       &sse2_rfind_one,      &sse2_rfind_two,        &sse2_rfind_three,
    &sse2_rfind_n,       &sse2_count_one,      &find_any<Sse2>,        &rfind_any<Sse2>,
    &find_not_any<Sse2>, &rfind_not_any<Sse2>, &sse2_find_starts,      &sse2_count_starts,
    &sse2_find_folded,   &sse2_rfind_folded,   &sse2_find_bucket_hits, &sse2_find_stride_hits,
};

// No ranked search to hand over to or from (see variants.hpp).
const LongSearchParts sse2_long_parts{Sse2::kWidth, nullptr, nullptr};

}  // namespace qarvo::detail
