// The AVX-512BW variant: 64-byte vectors with mask registers; ranges too
// short for one 64-byte step take masked loads, so it needs no narrower
// variant. Built with -mavx512bw for this file only; it runs only after the
// dispatcher has seen AVX-512F/BW (and what AVX2 needs) on the CPU.
#define QARVO_ISA_NAMESPACE isa_avx512

#include "n.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines kAvx512bwRoutines{
    Backend::avx512bw, &find_one<Avx512>, &find_two<Avx512>, &find_three<Avx512>, &find_n<Avx512>,
};

}  // namespace qarvo::detail
