// Public interface of the qarvo search core.
//
// The core is plain C++: it never includes Python.h, never allocates, never
// throws and keeps no state besides the once-per-process choice of the
// instruction-set variant (see backend.hpp). Every routine returns exactly what
// a plain scan would return (left to right for find_*, right to left for
// rfind_*); the vector block structure only changes how fast the answer comes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarvo {

// A borrowed, read-only run of bytes. `size` may be 0, in which case `data`
// may be null. The core only reads it and keeps nothing after a call.
struct ByteRange {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// "Not found", or the zero-based offset of an occurrence: the first for
// find_*, the last for rfind_*.
//
// The members are always inlined, also in unoptimised builds: the search core
// compiles some translation units with AVX instruction sets, and an
// out-of-line copy emitted there could be the one the linker keeps for every
// caller (tests/core/variant_symbols.sh checks that no such copy exists).
class SearchResult {
public:
    [[gnu::always_inline]] static constexpr SearchResult not_found() noexcept {
        return SearchResult(kNotFound);
    }
    [[gnu::always_inline]] static constexpr SearchResult at(std::size_t offset) noexcept {
        return SearchResult(offset);
    }

    [[gnu::always_inline]] constexpr bool found() const noexcept { return offset_ != kNotFound; }
    // Precondition: found().
    [[gnu::always_inline]] constexpr std::size_t offset() const noexcept { return offset_; }

    friend constexpr bool operator==(SearchResult, SearchResult) = default;

private:
    // No byte range can be SIZE_MAX bytes long and still hold a match at its
    // last offset, so the all-ones value is free to mean "not found".
    static constexpr std::size_t kNotFound = ~std::size_t{0};
    [[gnu::always_inline]] constexpr explicit SearchResult(std::size_t offset) noexcept
        : offset_(offset) {}
    std::size_t offset_;
};

// First offset p with haystack[p] == needle.
SearchResult find_one(ByteRange haystack, std::uint8_t needle) noexcept;

// First offset p with haystack[p] == b0 and haystack[p + 1] == b1.
SearchResult find_two(ByteRange haystack, std::uint8_t b0, std::uint8_t b1) noexcept;

// First offset p with haystack[p .. p + 2] == (b0, b1, b2).
SearchResult find_three(ByteRange haystack, std::uint8_t b0, std::uint8_t b1,
                        std::uint8_t b2) noexcept;

// First offset p with haystack[p .. p + m - 1] == needle[0 .. m - 1].
// An empty needle is found at 0; a needle longer than the haystack is not
// found; needles of one to three bytes give exactly find_one/two/three.
SearchResult find_n(ByteRange haystack, ByteRange needle) noexcept;

// Last offset p with haystack[p] == needle.
SearchResult rfind_one(ByteRange haystack, std::uint8_t needle) noexcept;

// Last offset p with haystack[p .. p + m - 1] == needle[0 .. m - 1]. An empty
// needle is found at haystack.size; a needle longer than the haystack is not
// found; needles of 1-3 bytes have reverse routines of their own (rfind_two,
// rfind_three inside the core).
SearchResult rfind_n(ByteRange haystack, ByteRange needle) noexcept;

// The number of offsets p with haystack[p] == needle.
std::size_t count_one(ByteRange haystack, std::uint8_t needle) noexcept;

}  // namespace qarvo
