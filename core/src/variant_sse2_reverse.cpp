// The SSE2 variant's searches from the end and its counts (reverse_*.hpp,
// count_one.hpp, starts.hpp), in a translation unit of their own, compiled with the
// variant's flags (qarvo_variant in core/CMakeLists.txt): instantiated in
// variant_sse2.cpp beside the forward routines, they changed how the
// compiler laid out the forward find_n, whose code must stay as tuned.
#define QARVO_ISA_NAMESPACE isa_sse2_reverse

#include "count_one.hpp"
#include "reverse_n.hpp"
#include "reverse_variants.hpp"
#include "starts.hpp"

namespace qarvo::detail {

SearchResult sse2_rfind_one(ByteRange haystack, std::uint8_t needle) noexcept {
    return rfind_one<Sse2>(haystack, needle);
}

SearchResult sse2_rfind_two(ByteRange haystack, std::uint8_t b0, std::uint8_t b1) noexcept {
    return rfind_two<Sse2>(haystack, b0, b1);
}

SearchResult sse2_rfind_three(ByteRange haystack, std::uint8_t b0, std::uint8_t b1,
                              std::uint8_t b2) noexcept {
    return rfind_three<Sse2>(haystack, b0, b1, b2);
}

SearchResult sse2_rfind_n(ByteRange haystack, ByteRange needle) noexcept {
    return rfind_n<Sse2>(haystack, needle);
}

std::size_t sse2_count_one(ByteRange haystack, std::uint8_t needle) noexcept {
    return count_one<Sse2>(haystack, needle);
}

std::size_t sse2_find_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor,
                             std::span<std::uint64_t> out) noexcept {
    return find_starts<Sse2>(haystack, needle, cursor, out);
}

std::size_t sse2_count_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor) noexcept {
    return count_starts<Sse2>(haystack, needle, cursor);
}

}  // namespace qarvo::detail
