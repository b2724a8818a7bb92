// Which lanes of a vector hold a member of a byte set: the per-vector tests
// the byte-set searches (any.hpp) choose from once per call, by the set's
// size: compares against one to three members (or non-members), the
// backend's table lookup (set_ops.hpp), or compares against a list of up to
// kMaxListed. Each is a type the loops take as a template argument, so a
// loop is compiled once per test with nothing chosen inside it.
// Reached through vector.hpp, which checks QARVO_ISA_NAMESPACE first.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "qarvo/search.hpp"
#include "set_ops.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {
// The first `count` members of `set`, in increasing order.
// Precondition: count <= set.size().
inline void first_members(const ByteSet& set, std::uint8_t* out, std::size_t count) noexcept {
    std::size_t found = 0;
    for (std::size_t k = 0; k < 4 && found < count; ++k) {
        for (std::uint64_t w = set.word(k); w != 0 && found < count; w &= w - 1) {
            out[found++] =
                static_cast<std::uint8_t>(64 * k + static_cast<std::size_t>(__builtin_ctzll(w)));
        }
    }
    assert(found == count);
}

// Lanes equal to one of the K members of the target (K = 1 to 3).
template <class V, std::size_t K>
struct InBytes {
    typename V::Vec member[K];

    explicit InBytes(const ByteSet& target) noexcept {
        std::uint8_t bytes[K] = {};
        first_members(target, bytes, K);
        for (std::size_t k = 0; k < K; ++k) {
            member[k] = V::splat(bytes[k]);
        }
    }
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        typename V::Mask m = V::eq(x, member[0]);
        for (std::size_t k = 1; k < K; ++k) {
            m = V::or_(m, V::eq(x, member[k]));
        }
        return m;
    }
    // Zero in the lanes of members: the byte differences from each member,
    // folded by their minimum. A block of vectors is folded the same way and
    // turned into a mask once (may_hold_member), where a compare per member
    // and vector into mask registers holds AVX-512 below AVX2 on Zen 4 (the
    // core benchmark's set/k=2 and k=3 rows).
    [[gnu::always_inline]] typename V::Vec misses(typename V::Vec x) const noexcept requires
        has_byte_diff<V> {
        typename V::Vec d = V::diff(x, member[0]);
        for (std::size_t k = 1; k < K; ++k) {
            d = V::min_diff(d, V::diff(x, member[k]));
        }
        return d;
    }
};

// Lanes equal to none of the K bytes outside the target (K = 1 to 3).
template <class V, std::size_t K>
struct OutOfBytes {
    InBytes<V, K> excluded;

    explicit OutOfBytes(const ByteSet& target) noexcept : excluded(target.complement()) {}
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        return SetOps<V>::not_(excluded(x));
    }
};

// Lanes whose byte is a member, by the backend's table lookup.
template <class V>
struct InTable {
    typename SetOps<V>::Table table;

    explicit InTable(const ByteSet& target) noexcept : table(SetOps<V>::table(target)) {}
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        return SetOps<V>::in_table(x, table);
    }
    [[gnu::always_inline]] auto hits(typename V::Vec x) const noexcept requires has_hits<V> {
        return SetOps<V>::table_hits(x, table);
    }
};

// Lanes whose byte is a member, for a target with no member from 0x80 up:
// the backend's cheaper lookup where it has one (in_low_table).
template <class V>
struct InLowTable {
    typename SetOps<V>::Table table;

    explicit InLowTable(const ByteSet& target) noexcept : table(SetOps<V>::table(target)) {}
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        if constexpr (has_low_table<V>) {
            return SetOps<V>::in_low_table(x, table);
        } else {
            return SetOps<V>::in_table(x, table);
        }
    }
    [[gnu::always_inline]] auto hits(typename V::Vec x) const noexcept requires has_hits<V> {
        return SetOps<V>::low_table_hits(x, table);
    }
};

// Lanes whose byte is a member, for a target that holds every byte from
// 0x80 up: InLowTable of the complement, complemented.
template <class V>
struct OutOfLowTable {
    InLowTable<V> excluded;

    explicit OutOfLowTable(const ByteSet& target) noexcept : excluded(target.complement()) {}
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        return SetOps<V>::not_(excluded(x));
    }
};

// The lowest and the highest byte of a 256-bit map held in four words
// (bit b of words[k] is byte 64 k + b). Precondition: some word is nonzero.
inline std::uint8_t lowest_in(const std::uint64_t (&words)[4]) noexcept {
    const std::size_t k = words[0] != 0 ? 0 : words[1] != 0 ? 1 : words[2] != 0 ? 2 : 3;
    return static_cast<std::uint8_t>(64 * k + static_cast<std::size_t>(__builtin_ctzll(words[k])));
}

inline std::uint8_t highest_in(const std::uint64_t (&words)[4]) noexcept {
    const std::size_t k = words[3] != 0 ? 3 : words[2] != 0 ? 2 : words[1] != 0 ? 1 : 0;
    return static_cast<std::uint8_t>(64 * k + 63 -
                                     static_cast<std::size_t>(__builtin_clzll(words[k])));
}

// Whether the map's bytes lie within 64 consecutive values (and there is at
// least one).
inline bool words_fit_window(const std::uint64_t (&words)[4]) noexcept {
    return (words[0] | words[1] | words[2] | words[3]) != 0 &&
           highest_in(words) - lowest_in(words) < 64;
}

inline std::uint8_t lowest_member(const ByteSet& set) noexcept {
    const std::uint64_t words[4] = {set.word(0), set.word(1), set.word(2), set.word(3)};
    return lowest_in(words);
}

// Whether every member (fits_window), or every non-member
// (complement_fits_window), lies within 64 consecutive byte values, and
// there is at least one. Read from the words: a ByteSet's complement also
// builds its nibble rows, which the short searches would pay for.
inline bool fits_window(const ByteSet& set) noexcept {
    const std::uint64_t words[4] = {set.word(0), set.word(1), set.word(2), set.word(3)};
    return words_fit_window(words);
}

inline bool complement_fits_window(const ByteSet& set) noexcept {
    const std::uint64_t words[4] = {~set.word(0), ~set.word(1), ~set.word(2), ~set.word(3)};
    return words_fit_window(words);
}

// The members low to low + 63 as a map: bit i is byte low + i.
inline std::uint64_t window_bits(const ByteSet& set, std::uint8_t low) noexcept {
    const std::size_t k = low / 64;
    const std::size_t shift = low % 64;
    std::uint64_t bits = set.word(k) >> shift;
    if (shift != 0 && k < 3) {
        bits |= set.word(k + 1) << (64 - shift);
    }
    return bits;
}

// Lanes whose byte is a member, for a target within a window of 64 values
// from its lowest member (SetOps::in_window).
// Precondition: fits_window(target).
template <class V>
struct InWindow {
    typename SetOps<V>::Window window;

    explicit InWindow(const ByteSet& target) noexcept : InWindow(target, lowest_member(target)) {}
    InWindow(const ByteSet& target, std::uint8_t low) noexcept
        : window(SetOps<V>::window(window_bits(target, low), low)) {
        assert(fits_window(target));
    }
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        return SetOps<V>::in_window(x, window);
    }
};

// The same for a target whose members all lie below 64, which needs no
// offset from the window's start (SetOps::in_first_window).
// Precondition: target.word(1), word(2) and word(3) are 0.
template <class V>
struct InFirstWindow {
    typename SetOps<V>::Window window;

    explicit InFirstWindow(const ByteSet& target) noexcept
        : window(SetOps<V>::window(target.word(0), 0)) {
        assert((target.word(1) | target.word(2) | target.word(3)) == 0);
    }
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        return SetOps<V>::in_first_window(x, window);
    }
};

// Lanes whose byte is not in the window matcher M's set: for a target whose
// complement fits a window (the "not" forms of small sets).
template <class V, template <class> class M>
struct OutOf {
    M<V> excluded;

    explicit OutOf(const ByteSet& target) noexcept : excluded(target.complement()) {}
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        return SetOps<V>::not_(excluded(x));
    }
};

// Lanes equal to one of the target's members, up to kMaxListed of them, for
// backends without a table lookup (plain SSE2): a compare per member.
inline constexpr std::size_t kMaxListed = 16;

template <class V>
struct InList {
    typename V::Vec member[kMaxListed];
    std::size_t count;

    // Precondition: 1 <= target.size() <= kMaxListed.
    explicit InList(const ByteSet& target) noexcept : count(target.size()) {
        std::uint8_t bytes[kMaxListed] = {};
        first_members(target, bytes, count);
        // The unused entries repeat the first member: every entry is set.
        for (std::size_t k = 0; k < kMaxListed; ++k) {
            member[k] = V::splat(bytes[k < count ? k : 0]);
        }
    }
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        typename V::Mask m = V::eq(x, member[0]);
        for (std::size_t k = 1; k < count; ++k) {
            m = V::or_(m, V::eq(x, member[k]));
        }
        return m;
    }
};

// Lanes equal to none of the up to kMaxListed bytes outside the target.
template <class V>
struct OutOfList {
    InList<V> excluded;

    explicit OutOfList(const ByteSet& target) noexcept : excluded(target.complement()) {}
    [[gnu::always_inline]] typename V::Mask operator()(typename V::Vec x) const noexcept {
        return SetOps<V>::not_(excluded(x));
    }
};

// The kinds of test, as types the loops take: Kind::M<V> is the matcher of
// vector type V, built from the target set.
template <std::size_t K>
struct ByCompare {
    template <class V>
    using M = InBytes<V, K>;
};
template <std::size_t K>
struct ByComplementedCompare {
    template <class V>
    using M = OutOfBytes<V, K>;
};
struct ByTable {
    template <class V>
    using M = InTable<V>;
};
struct ByList {
    template <class V>
    using M = InList<V>;
};
struct ByComplementedList {
    template <class V>
    using M = OutOfList<V>;
};
struct ByLowTable {
    template <class V>
    using M = InLowTable<V>;
};
struct ByComplementedLowTable {
    template <class V>
    using M = OutOfLowTable<V>;
};
struct ByWindow {
    template <class V>
    using M = InWindow<V>;
};
struct ByFirstWindow {
    template <class V>
    using M = InFirstWindow<V>;
};
struct ByComplementedWindow {
    template <class V>
    using M = OutOf<V, InWindow>;
};
struct ByComplementedFirstWindow {
    template <class V>
    using M = OutOf<V, InFirstWindow>;
};

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
