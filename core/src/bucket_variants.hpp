// The filters of several needles of each variant compiled into this build,
// <variant>_find_bucket_hits and <variant>_find_stride_hits, defined in
// variant_<variant>_buckets.cpp and entered in the variant's routine table
// (variant_<variant>.cpp).
#pragma once

#include <cstddef>
#include <span>

#include "qarvo/buckets.hpp"
#include "qarvo/stride_keys.hpp"
#include "variant_requirements.hpp"

namespace qarvo::detail {

#define QARVO_DECLARE_BUCKETS(name, cpu_check)                                          \
    std::size_t name##_find_bucket_hits(ByteRange haystack, const BucketFilter& filter, \
                                        std::span<BucketHit> out) noexcept;             \
    std::size_t name##_find_stride_hits(ByteRange haystack, const StrideFilter& filter, \
                                        std::span<std::size_t> out) noexcept;
QARVO_FOR_EACH_VARIANT(QARVO_DECLARE_BUCKETS)
#undef QARVO_DECLARE_BUCKETS

}  // namespace qarvo::detail
