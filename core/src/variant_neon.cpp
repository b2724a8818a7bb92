// The aarch64 baseline variant: 16-byte Advanced SIMD vectors.
#define QARVO_ISA_NAMESPACE isa_neon

#include "n.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines neon_routines{
    Backend::neon, &find_one<Neon>, &find_two<Neon>, &find_three<Neon>, &find_n<Neon>,
};

// No ranked search to hand over to or from (see variants.hpp).
const LongSearchParts neon_long_parts{Neon::kWidth, nullptr, nullptr};

}  // namespace qarvo::detail
