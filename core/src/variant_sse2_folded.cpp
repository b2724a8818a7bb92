// The sse2 variant's case-insensitive searches (folded.hpp), in a translation
// unit of their own, compiled with the variant's flags (qarvo_variant in
// core/CMakeLists.txt), so that they leave the forward routines' code as
// tuned (see variant_sse2_reverse.cpp).
#define QARVO_ISA_NAMESPACE isa_sse2_folded

#include "folded.hpp"
#include "folded_variants.hpp"

namespace qarvo::detail {

SearchResult sse2_find_folded(ByteRange haystack, ByteRange needle) noexcept {
    return find_folded<Sse2>(haystack, needle);
}

SearchResult sse2_rfind_folded(ByteRange haystack, ByteRange needle) noexcept {
    return rfind_folded<Sse2>(haystack, needle);
}

}  // namespace qarvo::detail
