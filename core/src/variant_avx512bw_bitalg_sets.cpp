// The byte-set searches of the AVX-512BW variant, built again with BITALG:
// sets whose members (or non-members) lie within 64 consecutive byte values
// take vpshufbitqmb instead of the nibble lookups (set_ops.hpp). Only this
// file is built for BITALG; the dispatcher puts these four entries into the
// AVX-512BW variant's table on CPUs that have it (set_extensions.cpp).
#define QARVO_ISA_NAMESPACE isa_avx512_bitalg_sets

#include "any.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SetRoutines avx512bw_bitalg_set_routines{
    &find_any<Avx512>,
    &rfind_any<Avx512>,
    &find_not_any<Avx512>,
    &rfind_not_any<Avx512>,
};

}  // namespace qarvo::detail
