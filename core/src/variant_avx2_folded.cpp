// The avx2 variant's case-insensitive searches (folded.hpp), in a translation
// unit of their own, compiled with the variant's flags (qarvo_variant in
// core/CMakeLists.txt), so that they leave the forward routines' code as
// tuned (see variant_avx2_reverse.cpp).
#define QARVO_ISA_NAMESPACE isa_avx2_folded

#include "folded.hpp"
#include "folded_variants.hpp"

namespace qarvo::detail {

SearchResult avx2_find_folded(ByteRange haystack, ByteRange needle) noexcept {
    return find_folded<Avx2, Sse2, Sse2Exact>(haystack, needle);
}

SearchResult avx2_rfind_folded(ByteRange haystack, ByteRange needle) noexcept {
    return rfind_folded<Avx2, Sse2, Sse2Exact>(haystack, needle);
}

}  // namespace qarvo::detail
