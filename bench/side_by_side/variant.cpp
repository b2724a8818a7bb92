// One build of the search core's find_n, compiled twice by side_by_side.sh:
// from the working tree and from the revision it is compared with, each with
// an inline namespace (QARVO_ISA_NAMESPACE) and an entry (SIDE_FUNCTION) of
// its own, so that both link into one program.
#include "n.hpp"

namespace qarvo::side {

SearchResult SIDE_FUNCTION(ByteRange haystack, ByteRange needle) noexcept {
#if defined(SIDE_AVX512)
    return detail::find_n<detail::Avx512>(haystack, needle);
#else
    return detail::find_n<detail::Avx2, detail::Sse2, detail::Sse2Exact>(haystack, needle);
#endif
}

}  // namespace qarvo::side
