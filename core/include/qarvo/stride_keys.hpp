// The stride filter of a larger set of needles: every `step`-th offset q of
// a range is tested, and q is a candidate when the key of the `width` bytes
// at q (2: the pair itself; 3: a hash of three bytes) has its bit set in a
// bitmap the set's needles filled (MultiAutomaton::stride). A needle of
// step + width - 1 bytes or more starting at p holds the window at the one
// grid point q among p .. p + step - 1, from its byte q - p on. Variants
// with vector gathers test eight offsets at once; the others one by one.
// The members are always inlined, as SearchResult's are and for the same
// reason: the variants' translation units call them too
// (tests/core/variant_symbols.sh).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qarvo/search.hpp"

namespace qarvo {

struct StrideFilter {
    // Three-byte keys are hashed to this many bits; pair keys take 16.
    static constexpr std::uint32_t kHashBits = 20;

    // A grid point stands for step starts, so fewer are tested the longer
    // the shortest needle is; no more than this many, as a gathered step
    // holds eight windows of a step from each of two 16-byte loads.
    static constexpr std::uint32_t kMaxStep = 3;

    const std::uint64_t* keys = nullptr;  // bit k of word k / 64 is key k
    std::uint32_t width = 0;              // 2 or 3
    std::uint32_t step = 2;               // 2 or 3

    // The bytes b0, b1, b2 given as b0 << 8 | b1 << 16 | b2 << 24, hashed.
    [[gnu::always_inline]] static constexpr std::uint32_t hash(std::uint32_t bytes) noexcept {
        return (bytes * 0x9E3779B1U) >> (32 - kHashBits);
    }
    // The key of the `Width` bytes at `p`.
    template <std::uint32_t Width>
    [[gnu::always_inline]] static std::uint32_t key_of(const std::uint8_t* p) noexcept {
        if constexpr (Width == 2) {
            return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
        } else {
            return hash(static_cast<std::uint32_t>(p[0]) << 8 |
                        static_cast<std::uint32_t>(p[1]) << 16 |
                        static_cast<std::uint32_t>(p[2]) << 24);
        }
    }
    [[gnu::always_inline]] bool has(std::uint32_t key) const noexcept {
        return ((keys[key >> 6] >> (key & 63)) & 1) != 0;
    }
};

// The candidates of `haystack`, in increasing order, into `out`: the offsets
// q = 0, step, 2 step, ... with q + filter.width <= size whose key is in the
// filter, up to out.size() of them. Returns how many it wrote; when that is
// out.size(), offsets after the last one written were not examined.
// Precondition: filter.width and filter.step are 2 or 3.
std::size_t find_stride_hits(ByteRange haystack, const StrideFilter& filter,
                             std::span<std::size_t> out) noexcept;

}  // namespace qarvo
