// Public interface of the qarvo search core.
//
// The core is plain C++: it never includes Python.h, never allocates, never
// throws and keeps no state besides the once-per-process choice of the
// instruction-set variant (see backend.hpp). Every routine returns exactly what
// a plain scan would return (left to right for find_*, right to left for
// rfind_*); the vector block structure only changes how fast the answer comes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

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

// The longest needle find_starts and count_starts take: a window is compared
// in two overlapping words of at most 8 bytes.
inline constexpr std::size_t kShortNeedleMax = 16;

// Where a scan of every start goes on: the lowest offset it may still report
// (`next`), and how far past a reported offset the next one may start
// (`step`: 1 for every start, m for the non-overlapping ones).
struct StartsCursor {
    std::size_t next = 0;
    std::size_t step = 1;
};

// Writes the offsets p >= cursor.next where the needle starts, in increasing
// order, each at least cursor.step past the one before (from cursor.next on,
// the greedy choice: a non-overlapping scan with step m counts what
// bytes.count counts), up to out.size() of them, and returns how many.
// Afterwards cursor.next is the last written offset plus the step when out
// filled, else at least n - m + 1: every window was examined. Reads only
// the haystack's bytes; compares at most m bytes per position (linear).
// Precondition: 2 <= m <= kShortNeedleMax, cursor.step >= 1.
std::size_t find_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor,
                        std::span<std::uint64_t> out) noexcept;

// The number of offsets find_starts would write with room for all of them;
// cursor.next then at least n - m + 1.
std::size_t count_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor) noexcept;

// find_n and rfind_n ignoring ASCII case: the letters A-Z and a-z match
// either case, every other byte (digits, punctuation, bytes from 0x80) only
// itself. The same answers as find_n and rfind_n of both ranges with their
// letters lower-cased; linear time, as they are.
SearchResult find_folded(ByteRange haystack, ByteRange needle) noexcept;
SearchResult rfind_folded(ByteRange haystack, ByteRange needle) noexcept;

// A set of byte values: which of the 256 are members. Built once per call
// (of) or prepared once and reused; 64 bytes, trivially copyable. It keeps
// the membership twice, as a 256-bit map and by low nibble (the form the
// vector table lookups load directly), and add() keeps the two in step.
// The members are always inlined, as SearchResult's are, and for the same
// reason (tests/core/variant_symbols.sh).
class ByteSet {
public:
    [[gnu::always_inline]] constexpr ByteSet() noexcept = default;

    // The set of the bytes in `bytes` (repeats allowed; empty: no members).
    // Lists of one or two bytes are added a byte at a time; longer ones
    // (add_many) are gathered in registers from a table of each byte's own
    // set: add()'s read-modify-writes of memory form a chain that a large
    // set pays in full on each call (compare_byte_sets.py, 32-byte
    // haystacks; figures in core/TUNING.md).
    // One object returned on both paths, so that it is built in place:
    // a copy would load it right after its bytes were stored, which stalls.
    [[gnu::always_inline]] static constexpr ByteSet of(ByteRange bytes) noexcept {
        ByteSet set;
        if (!std::is_constant_evaluated() && bytes.size > kAddedOneByOne) {
            set.add_many(bytes);
        } else {
            for (std::size_t i = 0; i < bytes.size; ++i) {
                set.add(bytes.data[i]);
            }
        }
        return set;
    }
    // All 256 byte values.
    [[gnu::always_inline]] static constexpr ByteSet all() noexcept {
        return ByteSet().complement();
    }

    [[gnu::always_inline]] constexpr void add(std::uint8_t b) noexcept {
        words_[b >> 6] |= std::uint64_t{1} << (b & 63);
        by_low_nibble_[(b >> 7) * 16 + (b & 15)] |= static_cast<std::uint8_t>(1u << ((b >> 4) & 7));
    }
    [[gnu::always_inline]] constexpr bool contains(std::uint8_t b) const noexcept {
        return ((words_[b >> 6] >> (b & 63)) & 1) != 0;
    }
    // The bytes that are not members.
    [[gnu::always_inline]] constexpr ByteSet complement() const noexcept {
        ByteSet out;
        for (std::size_t k = 0; k < 4; ++k) {
            out.words_[k] = ~words_[k];
        }
        for (std::size_t k = 0; k < 32; ++k) {
            out.by_low_nibble_[k] = static_cast<std::uint8_t>(~by_low_nibble_[k]);
        }
        return out;
    }
    // The number of members, 0 to 256.
    [[gnu::always_inline]] constexpr std::size_t size() const noexcept {
        std::size_t count = 0;
        for (const std::uint64_t w : words_) {
            count += static_cast<std::size_t>(std::popcount(w));
        }
        return count;
    }
    // Members 64 k to 64 k + 63: bit b of word(k) is byte 64 k + b. k < 4.
    [[gnu::always_inline]] constexpr std::uint64_t word(std::size_t k) const noexcept {
        return words_[k];
    }
    // Membership by nibbles, for table lookups: byte b (high nibble h, low
    // nibble l) is a member iff bit h % 8 of by_low_nibble(16 * (h / 8) + l)
    // is set. k < 32.
    [[gnu::always_inline]] constexpr std::uint8_t by_low_nibble(std::size_t k) const noexcept {
        return by_low_nibble_[k];
    }

    friend constexpr bool operator==(const ByteSet&, const ByteSet&) = default;

private:
    static constexpr std::size_t kAddedOneByOne = 2;
    // of() for more than kAddedOneByOne bytes, into an empty set; defined
    // once, in byte_set.cpp, compiled for the baseline CPU.
    void add_many(ByteRange bytes) noexcept;

    std::uint64_t words_[4] = {};
    std::uint8_t by_low_nibble_[32] = {};
};

// First offset p with haystack[p] in `set`.
SearchResult find_any(ByteRange haystack, const ByteSet& set) noexcept;

// Last offset p with haystack[p] in `set`.
SearchResult rfind_any(ByteRange haystack, const ByteSet& set) noexcept;

// First offset p with haystack[p] not in `set`.
SearchResult find_not_any(ByteRange haystack, const ByteSet& set) noexcept;

// Last offset p with haystack[p] not in `set`.
SearchResult rfind_not_any(ByteRange haystack, const ByteSet& set) noexcept;

}  // namespace qarvo
