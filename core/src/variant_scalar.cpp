// The scalar emulation of the 16-byte vector: runs on any CPU, and is the
// baseline of builds that force it.
#define QARVO_ISA_NAMESPACE isa_scalar

#include "any.hpp"
#include "bucket_variants.hpp"
#include "folded_variants.hpp"
#include "n.hpp"
#include "reverse_variants.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines scalar_routines{
    Backend::scalar,          &find_one<Scalar>,        &find_two<Scalar>,
    &find_three<Scalar>,      &find_n<Scalar>,          &scalar_rfind_one,
    &scalar_rfind_two,        &scalar_rfind_three,      &scalar_rfind_n,
    &scalar_count_one,        &find_any<Scalar>,        &rfind_any<Scalar>,
    &find_not_any<Scalar>,    &rfind_not_any<Scalar>,   &scalar_find_starts,
    &scalar_count_starts,     &scalar_find_folded,      &scalar_rfind_folded,
    &scalar_find_bucket_hits, &scalar_find_stride_hits,
};

// No ranked search to hand over to or from (see variants.hpp).
const LongSearchParts scalar_long_parts{Scalar::kWidth, nullptr, nullptr};

}  // namespace qarvo::detail
