// The AVX-512BW variant: 64-byte vectors with mask registers; ranges too
// short for one 64-byte step take masked loads, so it needs no narrower
// variant. Only this file is built for AVX-512BW, and only CPUs that have
// what it was built for run it (qarvo_variant in core/CMakeLists.txt).
#define QARVO_ISA_NAMESPACE isa_avx512

#include "n.hpp"
#include "reverse_variants.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines avx512bw_routines{
    Backend::avx512bw, &find_one<Avx512>,   &find_two<Avx512>,   &find_three<Avx512>,
    &find_n<Avx512>,   &avx512bw_rfind_one, &avx512bw_rfind_two, &avx512bw_rfind_three,
    &avx512bw_rfind_n, &avx512bw_count_one,
};

const SearchRoutines avx512bw_on_halves_routines{
    Backend::avx512bw, &find_one<Avx512>,   &find_two<Avx512>,   &find_three<Avx512>,
    &find_n_on_halves, &avx512bw_rfind_one, &avx512bw_rfind_two, &avx512bw_rfind_three,
    &avx512bw_rfind_n, &avx512bw_count_one,
};

// Where a CPU executes each 512-bit operation as two 256-bit halves (AMD's
// Zen 4), the AVX2 variant's loops scan long haystacks faster than this
// variant's; find_n_on_halves (halves.cpp) routes those here. This variant
// keeps the matches its plain prefix finds, 64 positions per step; the AVX2
// variant's ranked search goes on from where the prefix stopped, in the
// same haystack, without a prefix of its own: a second one cost a word
// found 3 KiB into 1 MiB of Python source a tenth of its time.
SearchResult find_long_on_halves(ByteRange haystack, ByteRange needle) noexcept {
    const std::size_t n = haystack.size;
    assert(needle.size >= 4 && needle.size <= n);
    std::size_t end = 0;  // positions before it are examined, and none matched
    const SearchResult early = plain_prefix<Avx512>(haystack.data, n, needle, kHalvesPrefix, end);
    if (early.found()) {
        return early;
    }
    assert(end <= n);
    return find_ranked_after_prefix_avx2(haystack, needle, end);
}

}  // namespace qarvo::detail
