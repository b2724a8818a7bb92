// The aarch64 baseline variant: 16-byte Advanced SIMD vectors.
#define QARVO_ISA_NAMESPACE isa_neon

#include "any.hpp"
#include "bucket_variants.hpp"
#include "folded_variants.hpp"
#include "n.hpp"
#include "reverse_variants.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines neon_routines{
    Backend::neon,       &find_one<Neon>,      &find_two<Neon>,        &find_three<Neon>,
    &find_n<Neon>,       &neon_rfind_one,      &neon_rfind_two,        &neon_rfind_three,
    &neon_rfind_n,       &neon_count_one,      &find_any<Neon>,        &rfind_any<Neon>,
    &find_not_any<Neon>, &rfind_not_any<Neon>, &neon_find_starts,      &neon_count_starts,
    &neon_find_folded,   &neon_rfind_folded,   &neon_find_bucket_hits, &neon_find_stride_hits,
};

// No ranked search to hand over to or from (see variants.hpp).
const LongSearchParts neon_long_parts{Neon::kWidth, nullptr, nullptr};

}  // namespace qarvo::detail
