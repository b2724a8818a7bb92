// How common a byte value is in typical data, to pick the needle bytes that
// best reject false candidates. 0 is rarest, 255 most common. It only steers
// speed: any choice gives the same results.
//
// The order covers three kinds of data:
// - ASCII text: space, then lower-case letters by their frequency in English,
//   punctuation, capitals and digits;
// - UTF-8 text: the lead bytes of Cyrillic (0xD0, 0xD1, nearly every other
//   byte of Russian text) and of CJK ideographs (0xE4 to 0xE9, a third of
//   Chinese text) count as very common; the continuation bytes 0x80 to 0xBF
//   are ordered by the frequency of the Russian letter whose second byte they
//   are (in CJK text they are spread evenly, each of them rare), so a needle of
//   UTF-8 text is filtered on the continuation bytes of its rarer letters;
// - binary data: NUL, the most common byte of executables and data files,
//   0xFF, and the small integers 0x01 to 0x0F of lengths and flags.
// Every other byte value counts as rare.
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
    const auto set_in_order = [rank](std::string_view bytes, int top, int step) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            rank[static_cast<unsigned char>(bytes[i])] =
                static_cast<std::uint8_t>(top - step * static_cast<int>(i));
        }
    };
    constexpr std::string_view kLetters = "etaoinsrhldcumfpgwybvkxjqz";
    for (std::size_t i = 0; i < kLetters.size(); ++i) {
        const auto lower = static_cast<unsigned char>(kLetters[i]);
        rank[lower] = static_cast<std::uint8_t>(250 - 3 * i);
        rank[lower - 'a' + 'A'] = static_cast<std::uint8_t>(150 - 2 * i);
    }
    for (unsigned char digit = '0'; digit <= '9'; ++digit) {
        rank[digit] = 140;
    }
    set_in_order(".,\n-_/:=\"'()\t;", 170, 4);
    rank[static_cast<unsigned char>(' ')] = 255;

    // UTF-8 continuation bytes: capitals and other letters' second bytes
    // first, then the Russian letters' second bytes from rarest (ъ, 0x8A) to
    // most common (о, 0xBE).
    for (unsigned byte = 0x80; byte < 0xC0; ++byte) {
        rank[byte] = 130;
    }
    set_in_order(
        "\xBE\xB5\xB0\xB8\xBD\x82\x81\x80\xB2\xBB\xBA\xBC\xB4\xBF\x83\x8F"
        "\x8B\x8C\xB3\xB7\xB1\x87\xB9\x85\xB6\x88\x8E\x86\x89\x8D\x84\x8A",
        245, 2);
    // UTF-8 lead bytes: Cyrillic, CJK ideographs, CJK and full-width
    // punctuation, general punctuation, Latin-1 letters.
    set_in_order("\xD0\xD1\xE4\xE5\xE6\xE7\xE8\xE9\xE3\xEF\xE2\xC3\xC2", 254, 3);

    rank[0x00] = 253;
    rank[0xFF] = 200;
    for (unsigned byte = 0x01; byte < 0x10; ++byte) {
        if (rank[byte] == 0) {
            rank[byte] = 120;
        }
    }
    return ranks;
}();

}  // namespace qarvo::detail
