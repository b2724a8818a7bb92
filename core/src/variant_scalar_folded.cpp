// The scalar variant's case-insensitive searches (folded.hpp), in a translation
// unit of their own, compiled with the variant's flags (qarvo_variant in
// core/CMakeLists.txt), so that they leave the forward routines' code as
// tuned (see variant_scalar_reverse.cpp).
#define QARVO_ISA_NAMESPACE isa_scalar_folded

#include "folded.hpp"
#include "folded_variants.hpp"

namespace qarvo::detail {

SearchResult scalar_find_folded(ByteRange haystack, ByteRange needle) noexcept {
    return find_folded<Scalar>(haystack, needle);
}

SearchResult scalar_rfind_folded(ByteRange haystack, ByteRange needle) noexcept {
    return rfind_folded<Scalar>(haystack, needle);
}

}  // namespace qarvo::detail
