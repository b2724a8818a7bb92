// The AVX-512BW variant: 64-byte vectors with mask registers; ranges too
// short for one 64-byte step take masked loads, so it needs no narrower
// variant. Only this file is built for AVX-512BW, and only CPUs that have
// what it was built for run it (qarvo_variant in core/CMakeLists.txt).
#define QARVO_ISA_NAMESPACE isa_avx512

#include "n.hpp"
#include "variants.hpp"

namespace qarvo::detail {

const SearchRoutines avx512bw_routines{
    Backend::avx512bw, &find_one<Avx512>, &find_two<Avx512>, &find_three<Avx512>, &find_n<Avx512>,
};

namespace {

// Where a CPU executes each 512-bit operation as two 256-bit halves (AMD's
// Zen 4), the AVX2 variant's loops scan long haystacks faster than this
// variant's. Side by side on Zen 4, on the real-data cases: find_n took 0.69
// of the time at 16 KiB, 0.90 at 100 KiB and 0.93 at 1 MiB (geometric means;
// down to 0.35 for some single matches near the end), find_one 0.87 to 0.89
// from 12 MiB. This variant keeps what it does better there: haystacks too
// short for those sizes, and the matches its plain prefix finds, 64
// positions per step.
SearchResult find_n_on_halves(ByteRange haystack, ByteRange needle) noexcept {
    const std::size_t n = haystack.size;
    if (n < kHalvesFindNFrom || needle.size < 4 || needle.size > n) {
        return find_n<Avx512>(haystack, needle);
    }
    // Positions before `end` are examined (none matched); the AVX2 variant
    // searches from there, in the same haystack.
    std::size_t end = 0;
    const SearchResult early = plain_prefix<Avx512>(haystack.data, n, needle, kHalvesPrefix, end);
    if (early.found()) {
        return early;
    }
    assert(end <= n);
    const SearchResult later =
        avx2_routines.find_n(ByteRange{haystack.data + end, n - end}, needle);
    return later.found() ? SearchResult::at(end + later.offset()) : later;
}

SearchResult find_one_on_halves(ByteRange haystack, std::uint8_t needle) noexcept {
    if (haystack.size < kHalvesFindOneFrom) {
        return find_one<Avx512>(haystack, needle);
    }
    return avx2_routines.find_one(haystack, needle);
}

}  // namespace

const SearchRoutines avx512bw_on_halves_routines{
    Backend::avx512bw,   &find_one_on_halves, &find_two<Avx512>,
    &find_three<Avx512>, &find_n_on_halves,
};

}  // namespace qarvo::detail
