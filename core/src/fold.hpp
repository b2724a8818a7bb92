// ASCII case folding for the case-insensitive searches (find_folded,
// rfind_folded): the letters A-Z and a-z match either case, every other
// byte only itself. A plain table and one inline function over it, outside
// the variants' namespaces (data only, as byte_rank.hpp), so that the
// baseline objects (matches.cpp, worst_case.cpp) and the variant ones read
// the same definition.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarvo::detail {

// A plain array, as ByteRanks: see byte_rank.hpp.
struct FoldTable {
    std::uint8_t of[256];
};

// Each byte's lower-case form: A-Z map to a-z, every other byte to itself.
inline constexpr FoldTable kFolded = [] {
    FoldTable table{};
    for (unsigned b = 0; b < 256; ++b) {
        table.of[b] = static_cast<std::uint8_t>(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b);
    }
    return table;
}();

// Whether `b` is an ASCII letter, which matches the other case too.
[[gnu::always_inline]] constexpr bool is_ascii_letter(std::uint8_t b) noexcept {
    return static_cast<std::uint8_t>((b | 0x20) - 'a') < 26;
}

// The other case of an ASCII letter; any other byte itself.
[[gnu::always_inline]] constexpr std::uint8_t other_case(std::uint8_t b) noexcept {
    return is_ascii_letter(b) ? static_cast<std::uint8_t>(b ^ 0x20) : b;
}

// Whether the m bytes at `a` and at `b` are equal with letters folded,
// byte by byte.
[[gnu::always_inline]] inline bool equal_folded_bytes(const std::uint8_t* a, const std::uint8_t* b,
                                                      std::size_t m) noexcept {
    for (std::size_t k = 0; k < m; ++k) {
        if (kFolded.of[a[k]] != kFolded.of[b[k]]) {
            return false;
        }
    }
    return true;
}

}  // namespace qarvo::detail
