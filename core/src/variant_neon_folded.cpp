// The neon variant's case-insensitive searches (folded.hpp), in a translation
// unit of their own, compiled with the variant's flags (qarvo_variant in
// core/CMakeLists.txt), so that they leave the forward routines' code as
// tuned (see variant_neon_reverse.cpp).
#define QARVO_ISA_NAMESPACE isa_neon_folded

#include "folded.hpp"
#include "folded_variants.hpp"

namespace qarvo::detail {

SearchResult neon_find_folded(ByteRange haystack, ByteRange needle) noexcept {
    return find_folded<Neon>(haystack, needle);
}

SearchResult neon_rfind_folded(ByteRange haystack, ByteRange needle) noexcept {
    return rfind_folded<Neon>(haystack, needle);
}

}  // namespace qarvo::detail
