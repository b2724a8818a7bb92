// The scalar emulation's searches from the end and its counts (reverse_*.hpp,
// count_one.hpp, starts.hpp), in a translation unit of their own, compiled with the
// variant's flags (qarvo_variant in core/CMakeLists.txt): instantiated in
// variant_scalar.cpp beside the forward routines, they changed how the
// compiler laid out the forward find_n, whose code must stay as tuned.
#define QARVO_ISA_NAMESPACE isa_scalar_reverse

#include "count_one.hpp"
#include "reverse_n.hpp"
#include "reverse_variants.hpp"
#include "starts.hpp"

namespace qarvo::detail {

SearchResult scalar_rfind_one(ByteRange haystack, std::uint8_t needle) noexcept {
    return rfind_one<Scalar>(haystack, needle);
}

SearchResult scalar_rfind_two(ByteRange haystack, std::uint8_t b0, std::uint8_t b1) noexcept {
    return rfind_two<Scalar>(haystack, b0, b1);
}

SearchResult scalar_rfind_three(ByteRange haystack, std::uint8_t b0, std::uint8_t b1,
                                std::uint8_t b2) noexcept {
    return rfind_three<Scalar>(haystack, b0, b1, b2);
}

SearchResult scalar_rfind_n(ByteRange haystack, ByteRange needle) noexcept {
    return rfind_n<Scalar>(haystack, needle);
}

std::size_t scalar_count_one(ByteRange haystack, std::uint8_t needle) noexcept {
    return count_one<Scalar>(haystack, needle);
}

std::size_t scalar_find_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor,
                               std::span<std::uint64_t> out) noexcept {
    return find_starts<Scalar>(haystack, needle, cursor, out);
}

std::size_t scalar_count_starts(ByteRange haystack, ByteRange needle,
                                StartsCursor& cursor) noexcept {
    return count_starts<Scalar>(haystack, needle, cursor);
}

}  // namespace qarvo::detail
