// The AVX2 variant: 32-byte vectors; ranges too short for one 32-byte step
// take two overlapping 16-byte SSE2 steps where they can. Built with -mavx2 for this file only; it
// runs only after the dispatcher has seen AVX2, BMI1/2 and POPCNT on the CPU.
#define QARVO_ISA_NAMESPACE isa_avx2

#include "n.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines kAvx2Routines{
    Backend::avx2,           &find_one<Avx2, Sse2>, &find_two<Avx2, Sse2>,
    &find_three<Avx2, Sse2>, &find_n<Avx2, Sse2>,
};

}  // namespace qarvo::detail
