// The bucket filter's search of each variant compiled into this build,
// <variant>_find_bucket_hits, defined in variant_<variant>_buckets.cpp and
// entered in the variant's routine table (variant_<variant>.cpp).
#pragma once

#include <cstddef>
#include <span>

#include "qarvo/buckets.hpp"
#include "variant_requirements.hpp"

namespace qarvo::detail {

#define QARVO_DECLARE_BUCKETS(name, cpu_check)                                          \
    std::size_t name##_find_bucket_hits(ByteRange haystack, const BucketFilter& filter, \
                                        std::span<BucketHit> out) noexcept;
QARVO_FOR_EACH_VARIANT(QARVO_DECLARE_BUCKETS)
#undef QARVO_DECLARE_BUCKETS

}  // namespace qarvo::detail
