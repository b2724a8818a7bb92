// The stride filter of a larger set of needles: every other offset q of a
// range is tested, and q is a candidate when the key of the `width` bytes at
// q (2: the pair itself; 3: a hash of three bytes) has its bit set in a
// bitmap the set's needles filled (MultiAutomaton::stride_keys). Variants
// with vector gathers test eight offsets at once; the others one by one.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "qarvo/search.hpp"

namespace qarvo {

struct StrideFilter {
    // Three-byte keys are hashed to this many bits; pair keys take 16.
    static constexpr std::uint32_t kHashBits = 20;

    const std::uint64_t* keys = nullptr;  // bit k of word k / 64 is key k
    std::uint32_t width = 0;              // 2 or 3

    // The bytes b0, b1, b2 given as b0 << 8 | b1 << 16 | b2 << 24, hashed.
    static constexpr std::uint32_t hash(std::uint32_t bytes) noexcept {
        return (bytes * 0x9E3779B1U) >> (32 - kHashBits);
    }
    // The key of the `Width` bytes at `p`.
    template <std::uint32_t Width>
    static std::uint32_t key_of(const std::uint8_t* p) noexcept {
        if constexpr (Width == 2) {
            return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
        } else {
            return hash(static_cast<std::uint32_t>(p[0]) << 8 |
                        static_cast<std::uint32_t>(p[1]) << 16 |
                        static_cast<std::uint32_t>(p[2]) << 24);
        }
    }
    // The same key of three bytes from one load of four, for scans that may
    // read a byte past them: the fourth is shifted out.
    static std::uint32_t key_of_four(const std::uint8_t* p) noexcept {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        if constexpr (std::endian::native == std::endian::big) {
            word = __builtin_bswap32(word);
        }
        return hash(word << 8);
    }
    bool has(std::uint32_t key) const noexcept { return ((keys[key >> 6] >> (key & 63)) & 1) != 0; }
};

// The candidates of `haystack`, in increasing order, into `out`: the offsets
// q = 0, 2, 4, ... with q + filter.width <= size whose key is in the filter,
// up to out.size() of them. Returns how many it wrote; when that is
// out.size(), offsets after the last one written were not examined.
// Precondition: filter.width is 2 or 3.
std::size_t find_stride_hits(ByteRange haystack, const StrideFilter& filter,
                             std::span<std::size_t> out) noexcept;

}  // namespace qarvo
