// ByteSet::add_many, ByteSet::of for longer lists of bytes: the set is gathered in registers
// from a table of each member's own set, so that no member waits for the store of the one
// before. Up to a few dozen members the table gives both the 256-bit map and the nibble rows;
// a longer list gathers the map alone and derives the rows from it in a fixed number of steps.
// Compiled for the baseline CPU, as every caller may run there.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qarvo/search.hpp"

namespace qarvo {
namespace {

// One member's set as ByteSet holds it (the map's four words, then the 32
// nibble rows), 64 bytes: four loads and four ORs a member. Selecting the
// member's word by compares took four compares and four selects a member,
// and deriving the nibble rows from the map a fixed cost larger than the
// search of a short haystack (compare_byte_sets.py's 32-byte haystacks with
// 16 and 64 members, and find_not_any's sets of every byte a text holds;
// figures in core/TUNING.md). GCC's vector extension: SSE2 or Advanced SIMD,
// as the baseline has, and pairs of words elsewhere.
using Lanes = std::uint64_t __attribute__((vector_size(16)));
struct alignas(64) Member {
    std::uint64_t word[4];
    std::uint8_t by_low_nibble[32];
};
static_assert(sizeof(Member) == 64);

constexpr std::array<Member, 256> kMember = [] {
    std::array<Member, 256> table{};
    for (std::size_t b = 0; b < 256; ++b) {
        table[b].word[b >> 6] = std::uint64_t{1} << (b & 63);
        table[b].by_low_nibble[(b >> 7) * 16 + (b & 15)] =
            static_cast<std::uint8_t>(1u << ((b >> 4) & 7));
    }
    return table;
}();

// Byte l of kSpread[c] (bits 8 l to 8 l + 7, by value, so on any byte order)
// is 1 where bit l of c is set.
constexpr std::array<std::uint64_t, 256> kSpread = [] {
    std::array<std::uint64_t, 256> table{};
    for (std::size_t c = 0; c < 256; ++c) {
        for (std::size_t l = 0; l < 8; ++l) {
            if ((c >> l & 1) != 0) {
                table[c] |= std::uint64_t{1} << (8 * l);
            }
        }
    }
    return table;
}();

// Members up to which the table's nibble rows are gathered too: up to about
// here two more loads and ORs a member cost less than the fixed steps of
// deriving them (compare_byte_sets.py's find_not_any sets lie above it,
// find_any's sets of 16 and 64 members on either side).
constexpr std::size_t kRowsGatheredUpTo = 48;

// The 16 bytes of `member` from byte 16 k on.
[[gnu::always_inline]] inline Lanes part(const Member& member, std::size_t k) noexcept {
    Lanes lanes;
    std::memcpy(&lanes, reinterpret_cast<const unsigned char*>(&member) + 16 * k, sizeof lanes);
    return lanes;
}

}  // namespace

void ByteSet::add_many(ByteRange bytes) noexcept {
    // Two members a step, each ORed into accumulators of its own, so that
    // the ORs of one member wait only for those of the member two before.
    const std::size_t parts = bytes.size <= kRowsGatheredUpTo ? 4 : 2;
    Lanes even[4] = {};
    Lanes odd[4] = {};
    std::size_t i = 0;
    for (; i + 2 <= bytes.size; i += 2) {
        const Member& a = kMember[bytes.data[i]];
        const Member& b = kMember[bytes.data[i + 1]];
        for (std::size_t k = 0; k < parts; ++k) {
            even[k] |= part(a, k);
            odd[k] |= part(b, k);
        }
    }
    if (i < bytes.size) {
        const Member& a = kMember[bytes.data[i]];
        for (std::size_t k = 0; k < parts; ++k) {
            even[k] |= part(a, k);
        }
    }
    const Lanes map[2] = {even[0] | odd[0], even[1] | odd[1]};
    std::memcpy(words_, map, sizeof words_);
    if (parts == 4) {
        const Lanes rows[2] = {even[2] | odd[2], even[3] | odd[3]};
        std::memcpy(by_low_nibble_, rows, sizeof by_low_nibble_);
        return;
    }
    // Byte 128 h + 16 j + l is bit 16 (j % 4) + l of word 2 h + j / 4, and
    // bit j of by_low_nibble_[16 h + l]: the 16 bits of each row j of the
    // map are spread to the bytes of the 16 entries, and shifted to bit j.
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t low_eight = 0;   // entries l = 0 to 7, as bytes
        std::uint64_t high_eight = 0;  // entries l = 8 to 15
        for (std::size_t j = 0; j < 8; ++j) {
            const std::uint64_t row = words_[2 * half + j / 4] >> (16 * (j % 4));
            low_eight |= kSpread[row & 0xFF] << j;
            high_eight |= kSpread[(row >> 8) & 0xFF] << j;
        }
        // Whole words where byte l of the value is byte l in memory, so
        // that the caller's wide loads of the rows are forwarded.
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(by_low_nibble_ + 16 * half, &low_eight, 8);
            std::memcpy(by_low_nibble_ + 16 * half + 8, &high_eight, 8);
        } else {
            for (std::size_t l = 0; l < 8; ++l) {
                by_low_nibble_[16 * half + l] = static_cast<std::uint8_t>(low_eight >> (8 * l));
                by_low_nibble_[16 * half + 8 + l] =
                    static_cast<std::uint8_t>(high_eight >> (8 * l));
            }
        }
    }
}

}  // namespace qarvo
