// The avx512bw variant's filters of several needles, the bucket filter
// (buckets.hpp) and the stride filter (stride_hits.hpp), in a translation unit
// of its own, compiled with the variant's flags (qarvo_variant in
// core/CMakeLists.txt), so that it leaves the forward routines' code as
// tuned (see variant_avx512bw_reverse.cpp).
#define QARVO_ISA_NAMESPACE isa_avx512bw_buckets

#include "bucket_variants.hpp"
#include "buckets.hpp"
#include "stride_hits.hpp"

namespace qarvo::detail {

std::size_t avx512bw_find_bucket_hits(ByteRange haystack, const BucketFilter& filter,
                                      std::span<BucketHit> out) noexcept {
    return find_bucket_hits<Avx512, Avx2, Sse2>(haystack, filter, out);
}

std::size_t avx512bw_find_stride_hits(ByteRange haystack, const StrideFilter& filter,
                                      std::span<std::size_t> out) noexcept {
    return stride_hits_of(haystack, filter, out);
}

}  // namespace qarvo::detail
