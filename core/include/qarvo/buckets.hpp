// A fingerprint filter for a few needles at once: the needles are shared out
// among up to eight buckets, and an offset is a candidate for a bucket when
// each of the haystack's next `width` bytes (1 to 4) could be the same byte
// of one of the bucket's needles, judged by its low and its high nibble
// separately. Vector variants test a whole vector of offsets with two table
// lookups per byte position (a byte shuffle indexed by nibbles), so a scan
// stops only where some needle may start; MultiScan then compares the
// needles of the buckets that hit.
//
// A candidate is only a maybe: a nibble pair drawn from two different
// needles of a bucket passes too. No offset where a needle of a bucket
// starts is ever missed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qarvo/search.hpp"

namespace qarvo {

struct BucketFilter {
    static constexpr std::size_t kBuckets = 8;
    static constexpr std::size_t kMaxWidth = 4;

    // How many leading bytes of each needle the fingerprint holds, 1 to 4;
    // every needle of the set is at least this long.
    std::uint32_t width = 0;
    // Bit b of low[k][x] is set when a needle of bucket b has a byte with
    // low nibble x at position k; high[k][x] the same for high nibbles. The
    // rows past `width` are unused.
    alignas(16) std::uint8_t low[kMaxWidth][16] = {};
    alignas(16) std::uint8_t high[kMaxWidth][16] = {};

    // The buckets the `width` bytes at `p` are a candidate for. Always
    // inlined, as SearchResult's members are (tests/core/variant_symbols.sh).
    [[gnu::always_inline]] std::uint8_t buckets_at(const std::uint8_t* p) const noexcept {
        std::uint8_t bits = 0xFF;
        for (std::size_t k = 0; k < width; ++k) {
            bits &= static_cast<std::uint8_t>(low[k][p[k] & 0x0F] & high[k][p[k] >> 4]);
        }
        return bits;
    }
};

// A candidate offset and the buckets that hit there (never 0).
struct BucketHit {
    std::size_t offset;  // within the range the search was given
    std::uint8_t buckets;
};

// The candidates of `haystack`, in increasing order, into `out`: every offset
// p with p + width <= size and buckets_at(p) != 0, up to out.size() of them.
// Returns how many it wrote; when that is out.size(), offsets after the last
// one written were not examined. Precondition: filter.width is 1 to 4.
std::size_t find_bucket_hits(ByteRange haystack, const BucketFilter& filter,
                             std::span<BucketHit> out) noexcept;

}  // namespace qarvo
