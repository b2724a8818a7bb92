// Instruction-set variants of the search core.
//
// The same algorithms are compiled once per vector width: the 16-byte
// baseline (SSE2 on x86-64, Advanced SIMD on aarch64), a scalar emulation of
// the 16-byte vector that runs anywhere, and on x86-64 the wider AVX2 and
// AVX-512BW variants. The public find_* functions run the variant chosen once
// per process from the CPU's features. Tests, benchmarks and the
// QARVO_BACKEND environment variable can name a variant explicitly; a value
// that names none the process can run is refused, never quietly replaced.
#pragma once

#include <span>
#include <string_view>

#include "qarvo/buckets.hpp"
#include "qarvo/search.hpp"
#include "qarvo/stride_keys.hpp"

namespace qarvo {

enum class Backend { scalar, sse2, neon, avx2, avx512bw };

// Every variant there is, compiled into this build or not.
inline constexpr Backend kAllBackends[] = {Backend::scalar, Backend::sse2, Backend::neon,
                                           Backend::avx2, Backend::avx512bw};

// The routines of one variant: the forward searches, then those from the end
// (rfind_two and rfind_three: the last occurrence of two or three bytes), the
// count, the byte-set searches, every start of a short needle, the
// case-insensitive searches, and the filters of several needles.
struct SearchRoutines {
    Backend backend;
    SearchResult (*find_one)(ByteRange, std::uint8_t) noexcept;
    SearchResult (*find_two)(ByteRange, std::uint8_t, std::uint8_t) noexcept;
    SearchResult (*find_three)(ByteRange, std::uint8_t, std::uint8_t, std::uint8_t) noexcept;
    SearchResult (*find_n)(ByteRange, ByteRange) noexcept;
    SearchResult (*rfind_one)(ByteRange, std::uint8_t) noexcept;
    SearchResult (*rfind_two)(ByteRange, std::uint8_t, std::uint8_t) noexcept;
    SearchResult (*rfind_three)(ByteRange, std::uint8_t, std::uint8_t, std::uint8_t) noexcept;
    SearchResult (*rfind_n)(ByteRange, ByteRange) noexcept;
    std::size_t (*count_one)(ByteRange, std::uint8_t) noexcept;
    // The byte-set searches: find_any, rfind_any, find_not_any, rfind_not_any.
    SearchResult (*find_any)(ByteRange, const ByteSet&) noexcept;
    SearchResult (*rfind_any)(ByteRange, const ByteSet&) noexcept;
    SearchResult (*find_not_any)(ByteRange, const ByteSet&) noexcept;
    SearchResult (*rfind_not_any)(ByteRange, const ByteSet&) noexcept;
    // Every start of a needle of 2 to kShortNeedleMax bytes: find_starts,
    // count_starts.
    std::size_t (*find_starts)(ByteRange, ByteRange, StartsCursor&,
                               std::span<std::uint64_t>) noexcept;
    std::size_t (*count_starts)(ByteRange, ByteRange, StartsCursor&) noexcept;
    // The case-insensitive searches: find_folded, rfind_folded.
    SearchResult (*find_folded)(ByteRange, ByteRange) noexcept;
    SearchResult (*rfind_folded)(ByteRange, ByteRange) noexcept;
    // The candidates of a few needles at once (qarvo/buckets.hpp), and of
    // many (qarvo/stride_keys.hpp).
    std::size_t (*find_bucket_hits)(ByteRange, const BucketFilter&, std::span<BucketHit>) noexcept;
    std::size_t (*find_stride_hits)(ByteRange, const StrideFilter&,
                                    std::span<std::size_t>) noexcept;
};

// "scalar", "sse2", "neon", "avx2" or "avx512bw".
std::string_view backend_name(Backend backend) noexcept;

// The 16-byte variant this build was compiled with as its baseline
// (scalar when the build forces the scalar emulation).
Backend baseline_backend() noexcept;

// Every variant compiled into this build that the running CPU can execute,
// narrowest first; the baseline is always among them.
std::span<const Backend> supported_backends() noexcept;

// The routines of one variant; nullptr if it is not in supported_backends().
const SearchRoutines* routines_for(Backend backend) noexcept;

// Why a value of QARVO_BACKEND (`requested`; nullptr when unset) cannot be
// followed, naming the accepted values, written to `out` (NUL-terminated, cut
// to fit; at least one char); empty when it can: unset, empty, or the name of a supported variant.
// The overload without `requested` reads the variable.
std::string_view backend_refusal(const char* requested, std::span<char> out) noexcept;
std::string_view backend_refusal(std::span<char> out) noexcept;

// The variant behind find_one/two/three/n: the one QARVO_BACKEND names, or
// the widest supported one when it is unset or empty. (Unset, on a CPU that
// executes 512-bit operations as two 256-bit halves, AMD's Zen 4, the
// AVX-512 variant leaves the scans of long haystacks to the AVX2 variant's
// loops, which run faster there; its table is then not routines_for's.)
// Chosen on first use, then fixed; a value that backend_refusal refuses stops
// the process there, with that message on standard error. The Python module
// checks first and fails its import instead.
const SearchRoutines& active_routines() noexcept;

}  // namespace qarvo
