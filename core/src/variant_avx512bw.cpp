// The AVX-512BW variant: 64-byte vectors with mask registers; what remains
// after the last whole 64-byte step goes to AVX2, then SSE2. Only this file is
// built for AVX-512BW, and only CPUs that have what it was built for run it
// (qarvo_variant in core/CMakeLists.txt).
#define QARVO_ISA_NAMESPACE isa_avx512

#include "n.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines avx512bw_routines{
    Backend::avx512bw,
    &find_one<Avx512, Avx2, Sse2>,
    &find_two<Avx512, Avx2, Sse2>,
    &find_three<Avx512, Avx2, Sse2>,
    &find_n<Avx512, Avx2, Sse2>,
};

}  // namespace qarvo::detail
