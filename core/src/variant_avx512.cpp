// The AVX-512BW variant: 64-byte vectors with mask registers; what remains
// after the last whole 64-byte step goes to AVX2, then SSE2. Built with
// -mavx512bw for this file only; it runs only after the dispatcher has seen
// AVX-512F/BW (and what AVX2 needs) on the CPU.
#define QARVO_ISA_NAMESPACE isa_avx512

#include "n.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines kAvx512bwRoutines{
    Backend::avx512bw,
    &find_one<Avx512, Avx2, Sse2>,
    &find_two<Avx512, Avx2, Sse2>,
    &find_three<Avx512, Avx2, Sse2>,
    &find_n<Avx512, Avx2, Sse2>,
};

}  // namespace qarvo::detail
