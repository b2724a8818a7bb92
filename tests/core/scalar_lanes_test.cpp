// The scalar vector's masks: lane k is byte k of the two words read as
// little-endian, on hosts of either byte order, and its compare is exact per
// byte. This is what lets a big-endian host give the answers of the others.
#define QARVO_ISA_NAMESPACE isa_scalar_lanes_test

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "vector_scalar.hpp"

namespace qarvo::detail {
namespace {

using V = Scalar;

std::array<std::uint8_t, 16> filled(std::uint8_t value) {
    std::array<std::uint8_t, 16> bytes;
    bytes.fill(value);
    return bytes;
}

TEST(ScalarLanes, LaneKIsByteKOfTheLittleEndianWords) {
    for (std::size_t k = 0; k < 16; ++k) {
        std::array<std::uint8_t, 16> bytes = filled(0x11);
        bytes[k] = 0xA5;
        const V::Mask m = V::eq(V::load(bytes.data()), V::splat(0xA5));
        const std::uint64_t lane_bits = std::uint64_t{0xFF} << (8 * (k % 8));
        EXPECT_EQ(m.lo, k < 8 ? lane_bits : 0) << "lane " << k;
        EXPECT_EQ(m.hi, k < 8 ? 0 : lane_bits) << "lane " << k;
        ASSERT_TRUE(V::any(m));
        EXPECT_EQ(V::lowest(m), k);
    }
}

TEST(ScalarLanes, SetLanesComeOutInAscendingOrder) {
    // Lanes 1, 7, 8 and 15: both words, both ends of each.
    std::array<std::uint8_t, 16> bytes = filled(0);
    for (const std::size_t k : {std::size_t{15}, std::size_t{8}, std::size_t{7}, std::size_t{1}}) {
        bytes[k] = 9;
    }
    V::LaneSet set = V::lanes(V::eq(V::load(bytes.data()), V::splat(9)));
    for (const std::size_t expected :
         {std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{15}}) {
        ASSERT_FALSE(V::empty(set));
        EXPECT_EQ(V::first(set), expected);
        set = V::drop_first(set);
    }
    EXPECT_TRUE(V::empty(set));
}

TEST(ScalarLanes, CompareIsExactForEveryPairOfBytes) {
    // x in lanes 3 and 12 against y everywhere; the neighbours always differ
    // from y, so a carry leaking across a lane would show up.
    for (int x = 0; x < 256; ++x) {
        for (int y = 0; y < 256; ++y) {
            std::array<std::uint8_t, 16> bytes = filled(static_cast<std::uint8_t>(y ^ 0x80));
            bytes[3] = bytes[12] = static_cast<std::uint8_t>(x);
            const V::Mask m = V::eq(V::load(bytes.data()), V::splat(static_cast<std::uint8_t>(y)));
            const bool same = x == y;
            ASSERT_EQ(m.lo, same ? std::uint64_t{0xFF} << 24 : 0) << x << " " << y;
            ASSERT_EQ(m.hi, same ? std::uint64_t{0xFF} << 32 : 0) << x << " " << y;
        }
    }
}

TEST(ScalarLanes, ShiftTakesTheNextVectorsLeadingBytes) {
    std::array<std::uint8_t, 32> bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    const V::Vec shifted = V::shifted<3>(V::load(bytes.data()), V::load(bytes.data() + 16));
    for (std::size_t k = 0; k < 16; ++k) {
        EXPECT_EQ(shifted.lane[k], k + 3);
    }
}

}  // namespace
}  // namespace qarvo::detail
