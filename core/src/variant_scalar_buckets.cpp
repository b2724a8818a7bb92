// The scalar variant's bucket filter (buckets.hpp), in a translation unit
// of its own, compiled with the variant's flags (qarvo_variant in
// core/CMakeLists.txt), so that it leaves the forward routines' code as
// tuned (see variant_scalar_reverse.cpp).
#define QARVO_ISA_NAMESPACE isa_scalar_buckets

#include "bucket_variants.hpp"
#include "buckets.hpp"

namespace qarvo::detail {

std::size_t scalar_find_bucket_hits(ByteRange haystack, const BucketFilter& filter,
                                    std::span<BucketHit> out) noexcept {
    return find_bucket_hits<Scalar>(haystack, filter, out);
}

}  // namespace qarvo::detail
