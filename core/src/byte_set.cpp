// ByteSet::add_many, ByteSet::of for longer lists of bytes. Its 256-bit map is gathered in four
// registers, each byte selecting its word, so that no member waits for the
// store of the one before; the nibble rows are then derived from the map in
// a fixed number of steps. Compiled for the baseline CPU, as every caller
// may run there.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qarvo/search.hpp"

namespace qarvo {
namespace {

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

}  // namespace

void ByteSet::add_many(ByteRange bytes) noexcept {
    std::uint64_t w0 = 0;
    std::uint64_t w1 = 0;
    std::uint64_t w2 = 0;
    std::uint64_t w3 = 0;
    for (std::size_t i = 0; i < bytes.size; ++i) {
        const unsigned b = bytes.data[i];
        const std::uint64_t bit = std::uint64_t{1} << (b & 63);
        const unsigned word = b >> 6;
        w0 |= word == 0 ? bit : 0;
        w1 |= word == 1 ? bit : 0;
        w2 |= word == 2 ? bit : 0;
        w3 |= word == 3 ? bit : 0;
    }
    words_[0] = w0;
    words_[1] = w1;
    words_[2] = w2;
    words_[3] = w3;
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
