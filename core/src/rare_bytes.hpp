// Which needle bytes a filter should test: the ones least likely to occur in
// the haystack, judged either by the byte-rank table (before the search has
// seen any data) or by counting bytes of the haystack itself (once a filter
// chosen by rank has proved weak on it). Only speed depends on the choice.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "byte_rank.hpp"
#include "filter_policy.hpp"
#include "qarvo/search.hpp"

#ifndef QARVO_ISA_NAMESPACE
#error "Define QARVO_ISA_NAMESPACE (one name per variant TU) before including the search core"
#endif

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// The offsets of the four needle bytes with the lowest score, lowest first.
struct RareOffsets {
    static constexpr std::size_t kCount = 4;
    std::size_t at[kCount];
};

// Needle bytes that rarest_offsets passes through its branch-free network
// before it tests each against the fourth kept key first.
inline constexpr std::size_t kNetworkOffsets = 16;

// Scores the needle bytes at offsets 0 .. min(m, scan_limit) - 1 and m - 1
// with `score(byte)` (below 2^24) and keeps the four lowest; among equal
// scores the lower offset wins. Distinct offsets may hold equal bytes.
// The first kNetworkOffsets bytes go through a min/max network of the four
// kept keys (score and offset packed into one word), with no branch on the
// data. A byte after them enters the network only when its key is below the
// fourth kept one: past the first few, that is rare (a key only ever grows
// with the offset at equal scores), and the network's chain of compares,
// several cycles per byte, would otherwise cost a long needle as much as the
// search (bench/core `run/m=600/n=102400`; core/TUNING.md).
// Precondition: m >= 4 and scan_limit >= 4.
template <class Score>
[[gnu::always_inline]] inline RareOffsets rarest_offsets(ByteRange needle, std::size_t scan_limit,
                                                         Score&& score) noexcept {
    constexpr std::size_t K = RareOffsets::kCount;
    const std::size_t m = needle.size;
    assert(m >= K && scan_limit >= K);
    std::uint64_t kept[K] = {~std::uint64_t{0}, ~std::uint64_t{0}, ~std::uint64_t{0},
                             ~std::uint64_t{0}};
    const auto consider = [&](std::size_t offset) {
        std::uint64_t key = std::uint64_t{score(needle.data[offset])} << 40 | offset;
        for (std::uint64_t& slot : kept) {
            const std::uint64_t low = slot < key ? slot : key;
            key = slot < key ? key : slot;
            slot = low;
        }
    };
    const std::size_t end = m < scan_limit ? m : scan_limit;
    const std::size_t network_end = end < kNetworkOffsets ? end : kNetworkOffsets;
    for (std::size_t k = 0; k < network_end; ++k) {
        consider(k);
    }
    for (std::size_t k = network_end; k < end; ++k) {
        if ((std::uint64_t{score(needle.data[k])} << 40 | k) < kept[K - 1]) [[unlikely]] {
            consider(k);
        }
    }
    if (end < m) {
        consider(m - 1);
    }
    constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << 40) - 1;
    return RareOffsets{{kept[0] & kOffsetMask, kept[1] & kOffsetMask, kept[2] & kOffsetMask,
                        kept[3] & kOffsetMask}};
}

// The rarest needle bytes by the rank table.
inline RareOffsets rarest_by_rank(ByteRange needle, std::size_t scan_limit) noexcept {
    return rarest_offsets(needle, scan_limit,
                          [](std::uint8_t b) noexcept -> std::uint32_t { return kByteRank.of[b]; });
}

// How often each byte value occurs in a sample of the haystack.
struct ByteCounts {
    std::uint16_t of[256];

    // Counts the bytes of [from, from + min(kSampleBytes, size - from)). Four
    // tables, summed at the end, keep a run of one byte value from making
    // every increment wait for the one before. Precondition: from <= size.
    static ByteCounts of_sample(const std::uint8_t* data, std::size_t size,
                                std::size_t from) noexcept {
        assert(from <= size);
        std::uint16_t partial[4][256] = {};
        const std::size_t length = size - from < kSampleBytes ? size - from : kSampleBytes;
        const std::uint8_t* const p = data + from;
        std::size_t k = 0;
        for (; k + 4 <= length; k += 4) {
            ++partial[0][p[k]];
            ++partial[1][p[k + 1]];
            ++partial[2][p[k + 2]];
            ++partial[3][p[k + 3]];
        }
        for (; k < length; ++k) {
            ++partial[0][p[k]];
        }
        ByteCounts counts;
        for (std::size_t b = 0; b < 256; ++b) {
            counts.of[b] = static_cast<std::uint16_t>(partial[0][b] + partial[1][b] +
                                                      partial[2][b] + partial[3][b]);
        }
        return counts;
    }
};

// The rarest needle bytes in the sample, ties broken by the rank table.
inline RareOffsets rarest_in_sample(ByteRange needle, std::size_t scan_limit,
                                    const ByteCounts& counts) noexcept {
    return rarest_offsets(needle, scan_limit, [&counts](std::uint8_t b) noexcept -> std::uint32_t {
        return std::uint32_t{counts.of[b]} << 8 | kByteRank.of[b];
    });
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
