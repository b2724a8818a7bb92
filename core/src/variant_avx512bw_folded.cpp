// The avx512bw variant's case-insensitive searches (folded.hpp), in a translation
// unit of their own, compiled with the variant's flags (qarvo_variant in
// core/CMakeLists.txt), so that they leave the forward routines' code as
// tuned (see variant_avx512bw_reverse.cpp).
#define QARVO_ISA_NAMESPACE isa_avx512_folded

#include "folded.hpp"
#include "folded_variants.hpp"

namespace qarvo::detail {

SearchResult avx512bw_find_folded(ByteRange haystack, ByteRange needle) noexcept {
    return find_folded<Avx512, Avx2, Sse2>(haystack, needle);
}

SearchResult avx512bw_rfind_folded(ByteRange haystack, ByteRange needle) noexcept {
    return rfind_folded<Avx512, Avx2, Sse2>(haystack, needle);
}

}  // namespace qarvo::detail
