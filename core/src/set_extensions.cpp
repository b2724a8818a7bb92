// A variant's table with the byte-set searches of its extension: the same
// routines built with instructions beyond the variant's own, which only some
// of the CPUs that run the variant have (qarvo_set_extension in
// core/CMakeLists.txt). Compiled without the variants' instruction sets:
// this file only reads the CPU's features and copies a table.
#include "variants.hpp"

namespace qarvo::detail {
namespace {

#if QARVO_HAVE_AVX512BW_BITALG_SETS
// Made by the first call (a routine's address in another object cannot be
// read at compile time), under the guard of a function's static.
const SearchRoutines* avx512bw_with_bitalg_sets() noexcept {
    static const SearchRoutines table = [] {
        SearchRoutines copy = avx512bw_routines;
        copy.find_any = avx512bw_bitalg_set_routines.find_any;
        copy.rfind_any = avx512bw_bitalg_set_routines.rfind_any;
        copy.find_not_any = avx512bw_bitalg_set_routines.find_not_any;
        copy.rfind_not_any = avx512bw_bitalg_set_routines.rfind_not_any;
        return copy;
    }();
    return &table;
}
#endif

}  // namespace

const SearchRoutines* routines_with_set_extension(Backend backend) noexcept {
    if (routines_for(backend) == nullptr) {
        return nullptr;
    }
#if QARVO_HAVE_AVX512BW_BITALG_SETS
    if (backend == Backend::avx512bw) {
        __builtin_cpu_init();
        if (QARVO_AVX512BW_BITALG_SETS_CPU_CHECK) {
            return avx512bw_with_bitalg_sets();
        }
    }
#endif
    return nullptr;
}

}  // namespace qarvo::detail
