// The aarch64 baseline variant: 16-byte Advanced SIMD vectors.
#define QARVO_ISA_NAMESPACE isa_neon

#include "any.hpp"
#include "n.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines neon_routines{
    Backend::neon,   &find_one<Neon>,  &find_two<Neon>,     &find_three<Neon>,    &find_n<Neon>,
    &find_any<Neon>, &rfind_any<Neon>, &find_not_any<Neon>, &rfind_not_any<Neon>,
};

}  // namespace qarvo::detail
