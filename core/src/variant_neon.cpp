// The aarch64 baseline variant: 16-byte Advanced SIMD vectors.
#define QARVO_ISA_NAMESPACE isa_neon

#include "any.hpp"
#include "count_one.hpp"
#include "n.hpp"
#include "reverse_n.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines neon_routines{
    Backend::neon,    &find_one<Neon>,  &find_two<Neon>,     &find_three<Neon>,    &find_n<Neon>,
    &rfind_one<Neon>, &rfind_two<Neon>, &rfind_three<Neon>,  &rfind_n<Neon>,       &count_one<Neon>,
    &find_any<Neon>,  &rfind_any<Neon>, &find_not_any<Neon>, &rfind_not_any<Neon>,
};

// No ranked search to hand over to or from (see variants.hpp).
const LongSearchParts neon_long_parts{Neon::kWidth, nullptr, nullptr};

}  // namespace qarvo::detail
