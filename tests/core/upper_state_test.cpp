// No routine of any variant returns with the upper halves of the vector
// registers in use. A routine that left them dirty made the interpreter's
// next SSE instruction wait: a 64-byte search_n returning a match cost
// 145 ns in place of 30 on CPython 3.13, whose eval loop runs SSE code
// right after the call. The processor reports which register states are
// not in their initial configuration (XGETBV with ECX = 1); VZEROUPPER puts
// the upper halves back into it, so the bits must be clear after each call.
#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "backend_fixture.hpp"
#include "qarvo/buckets.hpp"
#include "qarvo/search.hpp"
#include "qarvo/stride_keys.hpp"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace qarvo::test {
namespace {

#if defined(__x86_64__)
bool can_read_states_in_use() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    // XGETBV with ECX = 1: CPUID leaf 0Dh, sub-leaf 1, EAX bit 2.
    return __get_cpuid_count(0x0D, 1, &eax, &ebx, &ecx, &edx) != 0 && (eax & (1U << 2)) != 0;
}

// Bit 2: the upper 128 bits of ymm0-15; bit 6: the upper 256 bits of zmm0-15.
bool upper_halves_in_use() {
    unsigned low = 0, high = 0;
    asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
    return (low & ((1U << 2) | (1U << 6))) != 0;
}
#else
bool can_read_states_in_use() {
    return false;
}
bool upper_halves_in_use() {
    return false;
}
#endif

Bytes random_bytes(std::mt19937& rng, std::size_t n, const std::string& alphabet) {
    Bytes out(n);
    for (std::uint8_t& b : out) {
        b = static_cast<std::uint8_t>(alphabet[rng() % alphabet.size()]);
    }
    return out;
}

// Calls each of the routines on inputs that take every way out of them,
// checking the state after each call.
void check_every_routine(const SearchRoutines& r) {
    std::mt19937 rng(0x7570);
    ByteSet two_members;
    two_members.add('q');
    two_members.add('z');
    std::array<std::uint64_t, 1024> keys{};
    for (int k = 0; k < 300; ++k) {
        const std::uint32_t key = static_cast<std::uint32_t>(rng()) & 0xFFFF;
        keys[key / 64] |= std::uint64_t{1} << (key % 64);
    }
    const StrideFilter stride{keys.data(), 2, 2};
    BucketFilter buckets;
    buckets.width = 3;
    for (std::size_t k = 0; k < 3; ++k) {
        buckets.low[k][(0x61 + k) & 0x0F] = 1;
        buckets.high[k][0x6] = 1;
    }
    // Short and long haystacks, needles absent, at the end, at the start
    // and in the middle, and (where = 4, 5) needles whose every byte but
    // the last fills the haystack, so that candidates fail until the
    // searches change their filters or hand over to Two-Way: every way out
    // of each routine.
    for (const std::size_t size :
         {0u, 1u, 5u, 15u, 16u, 31u, 33u, 63u, 64u, 100u, 257u, 4096u, 70000u}) {
        for (const std::size_t length : {1u, 2u, 3u, 4u, 8u, 17u, 40u}) {
            for (int where = 0; where < 6; ++where) {
                const bool hostile = where >= 4;
                Bytes haystack = random_bytes(rng, size, hostile ? "a" : "abcdefgh");
                Bytes needle = random_bytes(rng, length, "qzxj");
                if (hostile) {
                    std::fill(needle.begin(), needle.end() - 1, 'a');
                    if (where == 5 && length <= size) {
                        std::copy(needle.begin(), needle.end(),
                                  haystack.end() - static_cast<std::ptrdiff_t>(length));
                    }
                }
                if (where > 0 && where < 4 && length <= size) {
                    const std::size_t at = where == 1   ? size - length
                                           : where == 2 ? 0
                                                        : (size - length) / 2;
                    std::copy(needle.begin(), needle.end(),
                              haystack.begin() + static_cast<std::ptrdiff_t>(at));
                }
                const ByteRange h = range_of(haystack);
                const ByteRange n = range_of(needle);
                const std::uint8_t a = needle[0];
                const std::uint8_t b = needle[length > 1 ? 1 : 0];
                const std::uint8_t c = needle[length > 2 ? 2 : 0];
                // Each routine called, then the state read before anything else runs.
                const auto clean_after = [&](const char* routine, auto&& call) {
                    call();
                    EXPECT_FALSE(upper_halves_in_use())
                        << routine << ", haystack " << size << " bytes, needle " << length;
                };
                clean_after("find_one", [&] { r.find_one(h, a); });
                clean_after("find_two", [&] { r.find_two(h, a, b); });
                clean_after("find_three", [&] { r.find_three(h, a, b, c); });
                clean_after("find_n", [&] { r.find_n(h, n); });
                clean_after("rfind_one", [&] { r.rfind_one(h, a); });
                clean_after("rfind_two", [&] { r.rfind_two(h, a, b); });
                clean_after("rfind_three", [&] { r.rfind_three(h, a, b, c); });
                clean_after("rfind_n", [&] { r.rfind_n(h, n); });
                clean_after("count_one", [&] { r.count_one(h, a); });
                clean_after("find_any", [&] { r.find_any(h, two_members); });
                clean_after("rfind_any", [&] { r.rfind_any(h, two_members); });
                clean_after("find_not_any", [&] { r.find_not_any(h, two_members); });
                clean_after("rfind_not_any", [&] { r.rfind_not_any(h, two_members); });
                clean_after("find_folded", [&] { r.find_folded(h, n); });
                clean_after("rfind_folded", [&] { r.rfind_folded(h, n); });
                if (length >= 2 && length <= kShortNeedleMax) {
                    clean_after("find_starts", [&] {
                        StartsCursor cursor;
                        std::array<std::uint64_t, 8> starts{};
                        r.find_starts(h, n, cursor, starts);
                    });
                    clean_after("count_starts", [&] {
                        StartsCursor cursor;
                        r.count_starts(h, n, cursor);
                    });
                }
                clean_after("find_bucket_hits", [&] {
                    std::array<BucketHit, 4> hits{};
                    r.find_bucket_hits(h, buckets, hits);
                });
                clean_after("find_stride_hits", [&] {
                    std::array<std::size_t, 4> hits{};
                    r.find_stride_hits(h, stride, hits);
                });
                ASSERT_FALSE(::testing::Test::HasFailure());
            }
        }
    }
}

class UpperState : public EveryBackend {};

TEST_P(UpperState, EveryRoutineReturnsWithTheUpperHalvesClean) {
    if (!can_read_states_in_use()) {
        GTEST_SKIP() << "this CPU does not report the register states in use";
    }
    check_every_routine(routines());
}

QARVO_FOR_EVERY_BACKEND(UpperState);

// The same through the public functions, which take the route chosen for
// this CPU (on some, a hand-over between two variants within one search).
TEST(UpperStateOfTheRoute, EveryPublicFunctionReturnsWithTheUpperHalvesClean) {
    if (!can_read_states_in_use()) {
        GTEST_SKIP() << "this CPU does not report the register states in use";
    }
    // Two- and three-byte reverse searches are public only through rfind_n.
    const auto rfind_pair = [](ByteRange h, std::uint8_t a, std::uint8_t b) noexcept {
        const std::uint8_t needle[] = {a, b};
        return rfind_n(h, ByteRange{needle, 2});
    };
    const auto rfind_triple = [](ByteRange h, std::uint8_t a, std::uint8_t b,
                                 std::uint8_t c) noexcept {
        const std::uint8_t needle[] = {a, b, c};
        return rfind_n(h, ByteRange{needle, 3});
    };
    const SearchRoutines route{
        baseline_backend(), &find_one,    &find_two,     &find_three,       &find_n,
        &rfind_one,         rfind_pair,   rfind_triple,  &rfind_n,          &count_one,
        &find_any,          &rfind_any,   &find_not_any, &rfind_not_any,    &find_starts,
        &count_starts,      &find_folded, &rfind_folded, &find_bucket_hits, &find_stride_hits};
    check_every_routine(route);
}

}  // namespace
}  // namespace qarvo::test
