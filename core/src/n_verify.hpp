// Verification for the long search (find_n, n.hpp): whether a window equals
// the needle, the candidates of a vector mask compared lowest first, the
// budget that bounds what they compare before Two-Way takes the rest, and
// the window-by-window scan of the few windows no vector step covers.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "probe.hpp"
#include "qarvo/search.hpp"
#include "vector.hpp"
#include "worst_case.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// Bytes that verification may compare before the search switches to Two-Way:
// four per byte advanced, plus a slack of four needles and 256 bytes, so that
// occasional false candidates of a long needle never trigger it.
struct VerifyBudget {
    static constexpr std::size_t kPerByte = 4;
    static constexpr std::size_t kSlack = 256;

    std::size_t needle_size;
    std::size_t compared = 0;
    std::size_t start = 0;  // the position the count began at

    // True once more than kPerByte * (position - start + needle_size) + kSlack
    // bytes have been compared. Written with a division, which cannot
    // overflow. Precondition: position >= start.
    bool exhausted_at(std::size_t position) const noexcept {
        return compared > kSlack && (compared - kSlack) / kPerByte > position - start + needle_size;
    }

    // A new allowance from `position` on, for a search that changed its
    // filter there. Granted once per call, so the total stays linear.
    void restart_at(std::size_t position) noexcept {
        compared = 0;
        start = position;
    }
};

// Whether the m bytes at `at` equal the needle. Needles of up to 16 bytes are
// compared as two overlapping words, with no call. Precondition: m >= 4 and
// the m bytes at `at` are inside the haystack.
[[gnu::always_inline]] inline bool equal_window(const std::uint8_t* at, ByteRange needle) noexcept {
    const std::size_t m = needle.size;
    QARVO_PROBE_COMPARED(m);
    const auto word = [](const std::uint8_t* p, auto zero) {
        decltype(zero) value;
        std::memcpy(&value, p, sizeof value);
        return value;
    };
    if (m <= 8) {
        const std::size_t tail = m - 4;
        return word(at, std::uint32_t{}) == word(needle.data, std::uint32_t{}) &&
               word(at + tail, std::uint32_t{}) == word(needle.data + tail, std::uint32_t{});
    }
    if (m <= 16) {
        const std::size_t tail = m - 8;
        return word(at, std::uint64_t{}) == word(needle.data, std::uint64_t{}) &&
               word(at + tail, std::uint64_t{}) == word(needle.data + tail, std::uint64_t{});
    }
    // Longer needles: the first 16 bytes inline, so that the false
    // candidates, which nearly all differ there, never pay for a call.
    if (word(at, std::uint64_t{}) != word(needle.data, std::uint64_t{}) ||
        word(at + 8, std::uint64_t{}) != word(needle.data + 8, std::uint64_t{})) {
        return false;
    }
    return std::memcmp(at + 16, needle.data + 16, m - 16) == 0;
}

// Compares the needle at each candidate of `mask` (block offset `base`),
// lowest lane first. Returns true with `result` set when the search is
// decided: a candidate verified, or the budget ran out and Two-Way answered
// for the rest. With kStopWhenSpent a spent budget does not hand over to
// Two-Way: the function returns true with `result` not found and `resume`
// set to the candidate not yet compared, for the caller to pick a better
// filter from there. Precondition: base + W + m - 1 <= n, so each
// candidate's m bytes are inside. verify_lanes takes the candidates as a
// lane set, verify as the mask they come from.
template <class V, bool kStopWhenSpent = false>
[[gnu::always_inline]] inline bool verify_lanes(const std::uint8_t* data, std::size_t n,
                                                ByteRange needle, typename V::LaneSet lanes,
                                                std::size_t base, VerifyBudget& budget,
                                                SearchResult& result,
                                                std::size_t* resume = nullptr) noexcept {
    const std::size_t m = needle.size;
    for (; !V::empty(lanes); lanes = V::drop_first(lanes)) {
        const std::size_t p = base + V::first(lanes);
        assert(p <= n && m <= n - p);
        if (budget.exhausted_at(p)) [[unlikely]] {
            if constexpr (kStopWhenSpent) {
                result = SearchResult::not_found();
                *resume = p;
            } else {
                QARVO_PROBE_PATH(kTwoWay);
                result = shift_result(two_way_search(ByteRange{data + p, n - p}, needle), p);
            }
            return true;
        }
        budget.compared += m;
        if (equal_window(data + p, needle)) {
            result = SearchResult::at(p);
            return true;
        }
    }
    return false;
}

template <class V, bool kStopWhenSpent = false>
[[gnu::always_inline]] inline bool verify(const std::uint8_t* data, std::size_t n, ByteRange needle,
                                          typename V::Mask mask, std::size_t base,
                                          VerifyBudget& budget, SearchResult& result,
                                          std::size_t* resume = nullptr) noexcept {
    return verify_lanes<V, kStopWhenSpent>(data, n, needle, V::lanes(mask), base, budget, result,
                                           resume);
}

// The windows at i, i + 1, ..., n - m compared one by one, for the few that
// no vector step covers. The first and last bytes are tested inline: most
// windows fail there, and a call per window would dominate short haystacks.
inline SearchResult scan_windows(const std::uint8_t* data, std::size_t n, std::size_t i,
                                 ByteRange needle) noexcept {
    const std::size_t m = needle.size;
    const std::uint8_t first = needle.data[0];
    const std::uint8_t final = needle.data[m - 1];
    for (std::size_t p = i; p <= n && n - p >= m; ++p) {
        if (data[p] == first && data[p + m - 1] == final && equal_window(data + p, needle)) {
            return SearchResult::at(p);
        }
    }
    return SearchResult::not_found();
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
