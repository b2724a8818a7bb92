// find_bucket_hits of every variant against the filter's own byte-by-byte
// definition (BucketFilter::buckets_at at each offset): every width, ranges
// of every length around the vector widths so that each step, the final
// overlapping one and the narrower fallbacks are taken, buffers of every
// size (a full buffer stops right after its last hit), tables with bits in
// every bucket and nibbles shared between buckets; and guard pages on both
// sides. The stride filter's search the same way.
#include "qarvo/buckets.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "backend_fixture.hpp"
#include "guarded_page.hpp"
#include "qarvo/stride_keys.hpp"

namespace qarvo::test {
namespace {

std::vector<BucketHit> plain_hits(const Bytes& haystack, const BucketFilter& filter,
                                  std::size_t capacity) {
    std::vector<BucketHit> out;
    for (std::size_t p = 0; p + filter.width <= haystack.size() && out.size() < capacity; ++p) {
        if (const std::uint8_t bits = filter.buckets_at(haystack.data() + p); bits != 0) {
            out.push_back(BucketHit{p, bits});
        }
    }
    return out;
}

// A filter whose tables hold each bucket's bit at `density` random nibbles
// out of 16, on the given width.
BucketFilter random_filter(std::mt19937& rng, std::uint32_t width, unsigned density) {
    BucketFilter filter;
    filter.width = width;
    for (std::size_t k = 0; k < width; ++k) {
        for (std::size_t b = 0; b < BucketFilter::kBuckets; ++b) {
            for (unsigned d = 0; d < density; ++d) {
                filter.low[k][rng() % 16] |= static_cast<std::uint8_t>(1U << b);
                filter.high[k][rng() % 16] |= static_cast<std::uint8_t>(1U << b);
            }
        }
    }
    return filter;
}

class BucketHits : public EveryBackend {
protected:
    std::vector<BucketHit> found(ByteRange haystack, const BucketFilter& filter,
                                 std::size_t capacity) const {
        std::vector<BucketHit> out(capacity);
        const std::size_t got = routines().find_bucket_hits(haystack, filter, out);
        EXPECT_LE(got, capacity);
        out.resize(got);
        return out;
    }
};

void expect_same(const std::vector<BucketHit>& got, const std::vector<BucketHit>& expected,
                 const char* what, std::size_t n) {
    ASSERT_EQ(got.size(), expected.size()) << what << ", " << n << " bytes";
    for (std::size_t k = 0; k < got.size(); ++k) {
        ASSERT_EQ(got[k].offset, expected[k].offset) << what << ", " << n << " bytes, hit " << k;
        ASSERT_EQ(got[k].buckets, expected[k].buckets)
            << what << ", " << n << " bytes, offset " << got[k].offset;
    }
}

TEST_P(BucketHits, EveryWidthLengthAndBufferAgainstThePlainScan) {
    std::mt19937 rng(5);
    for (std::uint32_t width = 1; width <= BucketFilter::kMaxWidth; ++width) {
        for (const unsigned density : {1u, 3u, 8u}) {
            const BucketFilter filter = random_filter(rng, width, density);
            for (std::size_t n = 0; n <= 200; ++n) {
                Bytes haystack(n);
                for (auto& b : haystack) {
                    b = static_cast<std::uint8_t>(rng());
                }
                for (const std::size_t capacity : {1u, 2u, 7u, 32u, 1000u}) {
                    expect_same(found(range_of(haystack), filter, capacity),
                                plain_hits(haystack, filter, capacity), "random", n);
                }
            }
        }
    }
}

TEST_P(BucketHits, SingleCandidatesAtEveryOffset) {
    // One bucket's needle "wxyz": a haystack of 'a' with it planted at each
    // offset hits there alone, the bucket's bit and no other.
    for (std::uint32_t width = 1; width <= BucketFilter::kMaxWidth; ++width) {
        BucketFilter filter;
        filter.width = width;
        const std::uint8_t needle[] = {'w', 'x', 'y', 'z'};
        for (std::size_t k = 0; k < width; ++k) {
            filter.low[k][needle[k] & 0x0F] |= 0x20;
            filter.high[k][needle[k] >> 4] |= 0x20;
        }
        for (const std::size_t n : {15u, 16u, 17u, 33u, 64u, 66u, 130u}) {
            for (std::size_t at = 0; at + width <= n; ++at) {
                Bytes haystack(n, 'a');
                std::copy(needle, needle + width,
                          haystack.begin() + static_cast<std::ptrdiff_t>(at));
                const std::vector<BucketHit> got = found(range_of(haystack), filter, 4);
                ASSERT_EQ(got.size(), 1u) << "width " << width << ", n " << n << ", at " << at;
                ASSERT_EQ(got[0].offset, at);
                ASSERT_EQ(got[0].buckets, 0x20);
            }
        }
    }
}

TEST_P(BucketHits, ReadsNothingOutsideTheRange) {
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    std::mt19937 rng(9);
    for (std::uint32_t width = 1; width <= BucketFilter::kMaxWidth; ++width) {
        const BucketFilter filter = random_filter(rng, width, 2);
        for (std::size_t n = 0; n <= 140; ++n) {
            Bytes content(n);
            for (auto& b : content) {
                b = static_cast<std::uint8_t>(rng());
            }
            const std::vector<BucketHit> expected = plain_hits(content, filter, 1000);
            for (const bool at_end : {true, false}) {
                const std::span<const std::uint8_t> bytes =
                    at_end ? page.at_end(content) : page.at_start(content);
                expect_same(found(ByteRange{bytes.data(), n}, filter, 1000), expected,
                            at_end ? "at the end" : "at the start", n);
            }
        }
    }
}

QARVO_FOR_EVERY_BACKEND(BucketHits);

// find_stride_hits of every variant against the filter's definition
// (StrideFilter::key_of at every step-th offset): pairs and hashed triples,
// grids of 2 and 3, bitmaps from sparse to half full, every length around
// the gathered steps' 24 and 28 bytes, buffers of every size, and guard
// pages on both sides.
std::vector<std::size_t> plain_stride_hits(const Bytes& haystack, const StrideFilter& filter,
                                           std::size_t capacity) {
    std::vector<std::size_t> out;
    for (std::size_t q = 0; q + filter.width <= haystack.size() && out.size() < capacity;
         q += filter.step) {
        const std::uint32_t key = filter.width == 2 ? StrideFilter::key_of<2>(haystack.data() + q)
                                                    : StrideFilter::key_of<3>(haystack.data() + q);
        if (filter.has(key)) {
            out.push_back(q);
        }
    }
    return out;
}

class StrideHits : public EveryBackend {
protected:
    std::vector<std::size_t> found(ByteRange haystack, const StrideFilter& filter,
                                   std::size_t capacity) const {
        std::vector<std::size_t> out(capacity);
        const std::size_t got = routines().find_stride_hits(haystack, filter, out);
        EXPECT_LE(got, capacity);
        out.resize(got);
        return out;
    }
};

TEST_P(StrideHits, EveryWidthLengthAndBufferAgainstThePlainScan) {
    std::mt19937 rng(29);
    std::vector<std::uint64_t> bits((std::size_t{1} << StrideFilter::kHashBits) / 64);
    for (const auto& [width, step] : {std::pair{2u, 2u}, {2u, 3u}, {3u, 2u}, {3u, 3u}}) {
        for (const unsigned one_in : {2u, 16u, 1024u}) {
            for (auto& word : bits) {
                word = 0;
                for (unsigned b = 0; b < 64; ++b) {
                    word |= std::uint64_t{rng() % one_in == 0} << b;
                }
            }
            const StrideFilter filter{bits.data(), width, step};
            for (std::size_t n = 0; n <= 120; ++n) {
                Bytes haystack(n);
                for (auto& b : haystack) {
                    b = static_cast<std::uint8_t>(rng());
                }
                for (const std::size_t capacity : {1u, 3u, 32u, 1000u}) {
                    ASSERT_EQ(found(range_of(haystack), filter, capacity),
                              plain_stride_hits(haystack, filter, capacity))
                        << "width " << width << ", step " << step << ", one in " << one_in << ", "
                        << n << " bytes, room for " << capacity;
                }
            }
        }
    }
}

TEST_P(StrideHits, ReadsNothingOutsideTheRange) {
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    std::mt19937 rng(31);
    std::vector<std::uint64_t> bits((std::size_t{1} << StrideFilter::kHashBits) / 64);
    for (auto& word : bits) {
        word = (std::uint64_t{rng()} << 32 | rng()) & (std::uint64_t{rng()} << 32 | rng());
    }
    for (const auto& [width, step] : {std::pair{2u, 2u}, {2u, 3u}, {3u, 2u}, {3u, 3u}}) {
        const StrideFilter filter{bits.data(), width, step};
        for (std::size_t n = 0; n <= 80; ++n) {
            Bytes content(n);
            for (auto& b : content) {
                b = static_cast<std::uint8_t>(rng());
            }
            const std::vector<std::size_t> expected = plain_stride_hits(content, filter, 1000);
            for (const bool at_end : {true, false}) {
                const std::span<const std::uint8_t> bytes =
                    at_end ? page.at_end(content) : page.at_start(content);
                ASSERT_EQ(found(ByteRange{bytes.data(), n}, filter, 1000), expected)
                    << n << " bytes " << (at_end ? "at the end" : "at the start") << ", width "
                    << width << ", step " << step;
            }
        }
    }
}

QARVO_FOR_EVERY_BACKEND(StrideHits);

}  // namespace
}  // namespace qarvo::test
