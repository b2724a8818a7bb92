// How common a byte value is in typical data, to pick the needle byte that
// best rejects false candidates. 0 is rarest, 255 most common. The order is
// English text first (space, then letters by their frequency in English,
// then capitals, digits and punctuation), then the NUL and 0xFF padding of
// binary data; every other byte counts as rare. It only steers speed: any
// choice gives the same results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qarvo::detail {

// A plain array, not std::array: unoptimised builds would emit its operator[]
// as a function shared by every variant TU, compiled with any one's flags.
struct ByteRanks {
    std::uint8_t of[256];
};

inline constexpr ByteRanks kByteRank = [] {
    ByteRanks ranks{};
    std::uint8_t* const rank = ranks.of;
    constexpr std::string_view kLetters = "etaoinsrhldcumfpgwybvkxjqz";
    for (std::size_t i = 0; i < kLetters.size(); ++i) {
        const auto lower = static_cast<unsigned char>(kLetters[i]);
        rank[lower] = static_cast<std::uint8_t>(250 - 3 * i);
        rank[lower - 'a' + 'A'] = static_cast<std::uint8_t>(150 - 2 * i);
    }
    for (unsigned char digit = '0'; digit <= '9'; ++digit) {
        rank[digit] = 140;
    }
    constexpr std::string_view kPunctuation = ".,\n-_/:=\"'()\t;";
    for (std::size_t i = 0; i < kPunctuation.size(); ++i) {
        rank[static_cast<unsigned char>(kPunctuation[i])] = static_cast<std::uint8_t>(170 - 4 * i);
    }
    rank[static_cast<unsigned char>(' ')] = 255;
    rank[0x00] = 160;
    rank[0xFF] = 120;
    return ranks;
}();

}  // namespace qarvo::detail
