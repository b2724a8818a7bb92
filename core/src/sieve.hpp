// The wide variants' main loop for two- and three-byte needles: some needle
// bytes are tested at every position, the others only in the blocks where
// that test lets a position through.
//
// Testing every needle byte at every position costs a load per byte and
// vector, and all but one of those loads straddle two cache lines, which
// bound find_three by its loads (1 MiB of English text against a read pass;
// core/TUNING.md). So the search tests the one or two needle bytes
// likely rarest in the data (byte_rank.hpp) and checks the rest on the
// blocks that pass, a rare event when those bytes are rare. When they are
// not (a block with a candidate that the check rejects is a false alarm,
// and a mispredicted branch), the loop gives up after a bounded number of
// false alarms and the caller goes on with a filter that tests more bytes.
// Every occurrence passes every filter, so only speed depends on the choice.
// Reached through two.hpp and three.hpp, after vector.hpp.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "byte_rank.hpp"
#include "filter_policy.hpp"
#include "probe.hpp"
#include "qarvo/search.hpp"
#include "vector.hpp"

namespace qarvo::detail {
inline namespace QARVO_ISA_NAMESPACE {

// A needle byte and its offset in the needle.
struct NeedleByte {
    std::size_t offset;
    std::uint8_t value;
};

// N of them (none for N = 0). A plain array, not std::array, whose member
// functions an unoptimised build would share between the variants' TUs.
template <std::size_t N>
struct NeedleBytes {
    NeedleByte at[N == 0 ? 1 : N];
};

// Lanes whose bytes match, in the form the backend folds cheapest over a
// block: a byte difference, zero in the lanes that match, where the backend
// has them (has_byte_diff), else the compare mask.
template <class V>
struct SieveLanes {
    using Vec = typename V::Vec;
    using Mask = typename V::Mask;

    // Lanes where x == a and y == b.
    [[gnu::always_inline]] static auto of(Vec x, Vec a, Vec y, Vec b) noexcept {
        if constexpr (has_byte_diff<V>) {
            return V::pair_diff(x, a, y, b);
        } else {
            return V::and_(V::eq(x, a), V::eq(y, b));
        }
    }
    using Lanes = decltype(of(Vec{}, Vec{}, Vec{}, Vec{}));

    // Lanes where x == a. Written apart from of(x, a, x, a): the compiler
    // kept both halves of that pair's difference, a second load and a
    // ternary logic operation per vector, in find_two's loop of a lone byte
    // on AVX-512.
    [[gnu::always_inline]] static Lanes of(Vec x, Vec a) noexcept {
        if constexpr (has_byte_diff<V>) {
            return V::diff(x, a);
        } else {
            return V::eq(x, a);
        }
    }

    // Lanes where x == a, y == b and z == c.
    [[gnu::always_inline]] static auto of(Vec x, Vec a, Vec y, Vec b, Vec z, Vec c) noexcept {
        if constexpr (has_byte_diff<V>) {
            return triple_diff<V>(x, a, y, b, z, c);
        } else {
            return V::and_(V::and_(V::eq(x, a), V::eq(y, b)), V::eq(z, c));
        }
    }

    // The lanes set in either.
    [[gnu::always_inline]] static Lanes either(Lanes x, Lanes y) noexcept {
        if constexpr (has_byte_diff<V>) {
            return V::min_diff(x, y);
        } else {
            return V::or_(x, y);
        }
    }
    [[gnu::always_inline]] static Mask mask(Lanes x) noexcept {
        if constexpr (has_byte_diff<V>) {
            return V::zero_lanes(x);
        } else {
            return x;
        }
    }
};

// False alarms a sieve loop tolerates: kAlarmSlack, plus one per
// kPassesPerAlarm passes of 4 W positions. A pass costs about as much as
// one mispredicted branch, and testing one byte more costs a load per
// vector, so one alarm in eight passes is about where the narrower filter
// stops paying.
inline constexpr std::size_t kAlarmSlack = 16;
inline constexpr std::size_t kPassesPerAlarm = 8;

// The slack of a lone byte tested on a guess (kLoneGuessRank): one that
// text does use, so when the guess is wrong every pass is a false alarm
// and a mispredicted branch, which a short range pays for at once.
inline constexpr std::size_t kGuessAlarmSlack = 4;

// Whether the rarest needle byte, of rank `rank`, is one to test alone on a
// guess in a range of kLoneGuessFrom bytes or more (kLoneGuessRank): text
// uses it, but rarely.
constexpr bool lone_guess(std::uint8_t rank) noexcept {
    return rank >= kAlienRank && rank < kLoneGuessRank;
}

// The slack of a sieve that never gives up: the last filter of a search.
inline constexpr std::size_t kNeverGiveUp = ~std::size_t{0};

// Whether a sieve that tests all three bytes of a three-byte needle takes
// the second and third out of each vector and the next with shifts rather
// than loading them at offsets 1 and 2: where a vector is a whole cache line,
// so that every unaligned load straddles two; AVX2's loads straddle a line
// every other time, and there the loads are faster (an absent needle of
// common letters through 1 MiB of English text; core/TUNING.md).
template <class V>
inline constexpr bool shifts_three_bytes = V::kWidth >= 64;

// The bytes one pass of the sieve reads from its first position on: its 4W
// positions and the span - 1 bytes after them, or 5W when it shifts three
// tested bytes out of each vector and the next.
template <class V, std::size_t kTested>
inline std::size_t sieve_reach(std::size_t span) noexcept {
    return kTested == 3 && shifts_three_bytes<V> ? 5 * V::kWidth : 4 * V::kWidth + span - 1;
}

// The wide main loop from position i on, for a needle of `span` bytes:
// the kTested needle bytes `tested` (one or two, or all three bytes of a
// three-byte needle in order) tested at every position, the kChecked bytes
// `checked` in the blocks that pass. Returns true with
// the first match in `found` when one lies in the positions it covers.
// Returns false when fewer than sieve_reach bytes remain, or once the false
// alarms exceed the budget above with `slack` (kAlarmSlack or
// kGuessAlarmSlack; kNeverGiveUp: never); `i` is then
// the first position not yet tested. Each pass tests positions
// i .. i + 4W - 1 and reads no byte at or beyond i + sieve_reach.
template <class V, std::size_t kTested, std::size_t kChecked>
[[gnu::always_inline]] inline bool sieve(const std::uint8_t* data, std::size_t n, std::size_t span,
                                         std::size_t& i, const NeedleBytes<kTested>& tested,
                                         const NeedleBytes<kChecked>& checked, std::size_t slack,
                                         SearchResult& found) noexcept {
    static_assert(kTested >= 1 && kTested <= 3);
    // Three tested bytes are a three-byte needle's, in order (see lanes_at).
    assert(kTested < 3 || (span == 3 && tested.at[0].offset == 0 && tested.at[1].offset == 1 &&
                           tested.at[2].offset == 2));
    using S = SieveLanes<V>;
    using Lanes = typename S::Lanes;
    using Mask = typename V::Mask;
    using Vec = typename V::Vec;
    constexpr std::size_t W = V::kWidth;
    const std::size_t start = i;
    std::size_t alarms = 0;
    const Vec a = V::splat(tested.at[0].value);
    const Vec b = V::splat(tested.at[kTested > 1 ? 1 : 0].value);
    const Vec third = V::splat(tested.at[kTested - 1].value);
    const auto lanes_at = [&](std::size_t at) noexcept -> Lanes {
        const Vec x = load_at<V>(data, n, at + tested.at[0].offset);
        if constexpr (kTested == 1) {
            return S::of(x, a);
        } else if constexpr (kTested == 2) {
            return S::of(x, a, load_at<V>(data, n, at + tested.at[1].offset), b);
        } else {
            // All three bytes of a three-byte needle, at offsets 0, 1 and 2.
            if constexpr (shifts_three_bytes<V>) {
                // The next vector is the next test's own (see sieve_reach).
                const Vec next = load_at<V>(data, n, at + W);
                return S::of(x, a, V::template shifted<1>(x, next), b,
                             V::template shifted<2>(x, next), third);
            } else {
                return S::of(x, a, load_at<V>(data, n, at + 1), b, load_at<V>(data, n, at + 2),
                             third);
            }
        }
    };
    const auto checked_at = [&](Mask m, std::size_t at) noexcept -> Mask {
        if constexpr (kChecked > 0) {
            for (std::size_t c = 0; c < kChecked; ++c) {
                const NeedleByte& check = checked.at[c];
                m = V::and_(m,
                            V::eq(load_at<V>(data, n, at + check.offset), V::splat(check.value)));
            }
        }
        return m;
    };
    const std::size_t reach = sieve_reach<V, kTested>(span);
    while (n - i >= reach) {
        prefetch_ahead(data, n, i);
        const Lanes l0 = lanes_at(i);
        const Lanes l1 = lanes_at(i + W);
        const Lanes l2 = lanes_at(i + 2 * W);
        const Lanes l3 = lanes_at(i + 3 * W);
        if (V::any(S::mask(S::either(S::either(l0, l1), S::either(l2, l3))))) [[unlikely]] {
            const Mask m0 = checked_at(S::mask(l0), i);
            const Mask m1 = checked_at(S::mask(l1), i + W);
            const Mask m2 = checked_at(S::mask(l2), i + 2 * W);
            const Mask m3 = checked_at(S::mask(l3), i + 3 * W);
            if (std::size_t offset; first_of_four<V>(m0, m1, m2, m3, offset)) {
                found = SearchResult::at(i + offset);
                return true;
            }
            ++alarms;
            if (slack != kNeverGiveUp && alarms > slack + (i - start) / (4 * W * kPassesPerAlarm)) {
                QARVO_PROBE_PATH(kSieveGaveUp);
                i += 4 * W;
                return false;
            }
        }
        i += 4 * W;
    }
    return false;
}

}  // namespace QARVO_ISA_NAMESPACE
}  // namespace qarvo::detail
