// Which variant runs: the variants compiled in, the ones the CPU can execute,
// the once-per-process choice, and the public find_* entry points.
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "qarvo/backend.hpp"
#include "qarvo/search.hpp"
#include "variants.hpp"

namespace qarvo {
namespace {

// The environment variable that forces a variant, for tests and benchmarks.
constexpr const char* kBackendVariable = "QARVO_BACKEND";

// Compiled variants, narrowest first. Each one needs every CPU feature of the
// ones before it (the AVX-512 variant also runs AVX2 code for its remainder),
// so the variants a CPU can execute are always a prefix of this list.
#define QARVO_BACKEND_OF(name, cpu_check) Backend::name,
constexpr Backend kCompiled[] = {QARVO_FOR_EACH_VARIANT(QARVO_BACKEND_OF)};
#undef QARVO_BACKEND_OF

// Whether the running CPU (and OS, which must save the wide registers) can
// execute a compiled variant: the check generated from the features it was
// compiled for. Features are read from libgcc's CPU model, which
// __builtin_cpu_init fills in even before static constructors ran.
bool cpu_runs(Backend backend) noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
#endif
    switch (backend) {
#define QARVO_CPU_CHECK(name, cpu_check) \
    case Backend::name:                  \
        return cpu_check;
        QARVO_FOR_EACH_VARIANT(QARVO_CPU_CHECK)
#undef QARVO_CPU_CHECK
        default:
            return false;
    }
}

const SearchRoutines* compiled_routines(Backend backend) noexcept {
    switch (backend) {
#define QARVO_ROUTINES_OF(name, cpu_check) \
    case Backend::name:                    \
        return &detail::name##_routines;
        QARVO_FOR_EACH_VARIANT(QARVO_ROUTINES_OF)
#undef QARVO_ROUTINES_OF
        default:
            return nullptr;
    }
}

// What a value of the variable asks for: the widest supported variant when
// it is unset or empty (where the CPU runs 512-bit operations as halves,
// the route of that variant and the one of 256-bit vectors that
// route_on_halves assembles, halves.cpp; elsewhere with the byte-set searches
// of its extension where the CPU runs them), the named one when that is
// supported; otherwise no routines, and `known` says whether the value names
// a variant at all.
struct Choice {
    const SearchRoutines* routines;
    bool known;
};

Choice choose(const char* requested) noexcept {
    if (requested == nullptr || *requested == '\0') {
        const std::span<const Backend> supported = supported_backends();
        if (detail::runs_512_bits_as_halves()) {
            if (const SearchRoutines* route = detail::route_on_halves(supported)) {
                return {route, true};
            }
        } else if (const SearchRoutines* extended =
                       detail::routines_with_set_extension(supported.back())) {
            // Elsewhere the widest variant, with the byte-set searches of its
            // extension where the CPU runs them (set_extensions.cpp); not on
            // CPUs that run 512-bit operations as halves, where it was never
            // measured.
            return {extended, true};
        }
        return {compiled_routines(supported.back()), true};
    }
    for (const Backend backend : kAllBackends) {
        if (backend_name(backend) == requested) {
            return {routines_for(backend), true};
        }
    }
    return {nullptr, false};
}

// Appends `text` to the buffer at `used`, cutting it to fit beside the NUL.
// Precondition: !out.empty().
void append(std::span<char> out, std::size_t& used, std::string_view text) noexcept {
    const std::size_t room = out.size() - 1 - used;
    const std::size_t n = text.size() < room ? text.size() : room;
    std::memcpy(out.data() + used, text.data(), n);
    used += n;
    out[used] = '\0';
}

const SearchRoutines* choose_routines() noexcept {
    const char* requested = std::getenv(kBackendVariable);
    const Choice choice = choose(requested);
    if (choice.routines == nullptr) [[unlikely]] {
        char buffer[256];
        const std::string_view why = backend_refusal(requested, buffer);
        std::fprintf(stderr, "qarvo: %.*s\n", static_cast<int>(why.size()), why.data());
        std::abort();
    }
    return choice.routines;
}

// The choice, made by the first call; racing first calls compute the same
// value and the first one stored wins. No lock, no allocation.
constinit std::atomic<const SearchRoutines*> g_active{nullptr};

// The public find_* jump through these pointers: one load each, where going
// through g_active and its table takes two that depend on each other (short
// searches take only a few nanoseconds, so that counts). Until the choice is
// made each holds its *_first routine, which makes the choice (storing every
// chosen routine here) and then searches. A relaxed load suffices: every
// routine they can hold, and every table and constant the routines read, is
// fixed before any thread runs.
SearchResult find_one_first(ByteRange haystack, std::uint8_t needle) noexcept;
SearchResult find_two_first(ByteRange haystack, std::uint8_t b0, std::uint8_t b1) noexcept;
SearchResult find_three_first(ByteRange haystack, std::uint8_t b0, std::uint8_t b1,
                              std::uint8_t b2) noexcept;
SearchResult find_n_first(ByteRange haystack, ByteRange needle) noexcept;
SearchResult rfind_one_first(ByteRange haystack, std::uint8_t needle) noexcept;
SearchResult rfind_n_first(ByteRange haystack, ByteRange needle) noexcept;
std::size_t count_one_first(ByteRange haystack, std::uint8_t needle) noexcept;

constinit std::atomic<decltype(SearchRoutines::find_one)> g_find_one{&find_one_first};
constinit std::atomic<decltype(SearchRoutines::find_two)> g_find_two{&find_two_first};
constinit std::atomic<decltype(SearchRoutines::find_three)> g_find_three{&find_three_first};
constinit std::atomic<decltype(SearchRoutines::find_n)> g_find_n{&find_n_first};
constinit std::atomic<decltype(SearchRoutines::rfind_one)> g_rfind_one{&rfind_one_first};
constinit std::atomic<decltype(SearchRoutines::rfind_n)> g_rfind_n{&rfind_n_first};
constinit std::atomic<decltype(SearchRoutines::count_one)> g_count_one{&count_one_first};

// The first call's part of active_routines, out of line: inlined, it would
// give every find_* a stack frame where the chosen variant needs none.
// Racing first calls store the same winners in the entries, each after the
// choice is published.
[[gnu::noinline, gnu::cold]] const SearchRoutines& choose_once() noexcept {
    const SearchRoutines* active = nullptr;
    const SearchRoutines* chosen = choose_routines();
    if (g_active.compare_exchange_strong(active, chosen, std::memory_order_acq_rel,
                                         std::memory_order_acquire)) {
        active = chosen;
    }
    g_find_one.store(active->find_one, std::memory_order_relaxed);
    g_find_two.store(active->find_two, std::memory_order_relaxed);
    g_find_three.store(active->find_three, std::memory_order_relaxed);
    g_find_n.store(active->find_n, std::memory_order_relaxed);
    g_rfind_one.store(active->rfind_one, std::memory_order_relaxed);
    g_rfind_n.store(active->rfind_n, std::memory_order_relaxed);
    g_count_one.store(active->count_one, std::memory_order_relaxed);
    return *active;
}

[[gnu::noinline, gnu::cold]] SearchResult find_one_first(ByteRange haystack,
                                                         std::uint8_t needle) noexcept {
    return active_routines().find_one(haystack, needle);
}

[[gnu::noinline, gnu::cold]] SearchResult find_two_first(ByteRange haystack, std::uint8_t b0,
                                                         std::uint8_t b1) noexcept {
    return active_routines().find_two(haystack, b0, b1);
}

[[gnu::noinline, gnu::cold]] SearchResult find_three_first(ByteRange haystack, std::uint8_t b0,
                                                           std::uint8_t b1,
                                                           std::uint8_t b2) noexcept {
    return active_routines().find_three(haystack, b0, b1, b2);
}

[[gnu::noinline, gnu::cold]] SearchResult find_n_first(ByteRange haystack,
                                                       ByteRange needle) noexcept {
    return active_routines().find_n(haystack, needle);
}

[[gnu::noinline, gnu::cold]] SearchResult rfind_one_first(ByteRange haystack,
                                                          std::uint8_t needle) noexcept {
    return active_routines().rfind_one(haystack, needle);
}

[[gnu::noinline, gnu::cold]] SearchResult rfind_n_first(ByteRange haystack,
                                                        ByteRange needle) noexcept {
    return active_routines().rfind_n(haystack, needle);
}

[[gnu::noinline, gnu::cold]] std::size_t count_one_first(ByteRange haystack,
                                                         std::uint8_t needle) noexcept {
    return active_routines().count_one(haystack, needle);
}

}  // namespace

bool detail::runs_512_bits_as_halves() noexcept {
#if defined(__x86_64__)
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    // The vendor string "AuthenticAMD", in the order EBX, EDX, ECX.
    const bool amd = ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163;
    if (!amd || __get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    // Family 0Fh and up count on with the extended family bits.
    const unsigned family = ((eax >> 8) & 0xF) + ((eax >> 20) & 0xFF);
    return family == 0x19;
#else
    return false;
#endif
}

std::string_view backend_refusal(const char* requested, std::span<char> out) noexcept {
    const Choice choice = choose(requested);
    if (choice.routines != nullptr) {
        return {};
    }
    assert(!out.empty());
    std::size_t used = 0;
    append(out, used, kBackendVariable);
    append(out, used, "='");
    append(out, used, requested);
    append(out, used,
           choice.known ? "' is a variant this build or CPU cannot run" : "' is not a variant");
    append(out, used, "; accepted values: ");
    const char* separator = "";
    for (const Backend backend : supported_backends()) {
        append(out, used, separator);
        append(out, used, backend_name(backend));
        separator = ", ";
    }
    append(out, used, " (unset: the widest of these)");
    return {out.data(), used};
}

std::string_view backend_refusal(std::span<char> out) noexcept {
    return backend_refusal(std::getenv(kBackendVariable), out);
}

std::string_view backend_name(Backend backend) noexcept {
    switch (backend) {
        case Backend::scalar:
            return "scalar";
        case Backend::sse2:
            return "sse2";
        case Backend::neon:
            return "neon";
        case Backend::avx2:
            return "avx2";
        case Backend::avx512bw:
            return "avx512bw";
    }
    return "unknown";
}

Backend baseline_backend() noexcept {
#if QARVO_HAVE_SSE2
    return Backend::sse2;
#elif QARVO_HAVE_NEON
    return Backend::neon;
#else
    return Backend::scalar;
#endif
}

std::span<const Backend> supported_backends() noexcept {
    std::size_t count = 0;
    while (count < std::size(kCompiled) && cpu_runs(kCompiled[count])) {
        ++count;
    }
    return {kCompiled, count};
}

const SearchRoutines* routines_for(Backend backend) noexcept {
    for (const Backend supported : supported_backends()) {
        if (supported == backend) {
            return compiled_routines(backend);
        }
    }
    return nullptr;
}

const SearchRoutines& active_routines() noexcept {
    if (const SearchRoutines* active = g_active.load(std::memory_order_acquire)) [[likely]] {
        return *active;
    }
    return choose_once();
}

SearchResult find_one(ByteRange haystack, std::uint8_t needle) noexcept {
    return g_find_one.load(std::memory_order_relaxed)(haystack, needle);
}

SearchResult find_two(ByteRange haystack, std::uint8_t b0, std::uint8_t b1) noexcept {
    return g_find_two.load(std::memory_order_relaxed)(haystack, b0, b1);
}

SearchResult find_three(ByteRange haystack, std::uint8_t b0, std::uint8_t b1,
                        std::uint8_t b2) noexcept {
    return g_find_three.load(std::memory_order_relaxed)(haystack, b0, b1, b2);
}

SearchResult find_n(ByteRange haystack, ByteRange needle) noexcept {
    return g_find_n.load(std::memory_order_relaxed)(haystack, needle);
}

SearchResult rfind_one(ByteRange haystack, std::uint8_t needle) noexcept {
    return g_rfind_one.load(std::memory_order_relaxed)(haystack, needle);
}

SearchResult rfind_n(ByteRange haystack, ByteRange needle) noexcept {
    return g_rfind_n.load(std::memory_order_relaxed)(haystack, needle);
}

std::size_t count_one(ByteRange haystack, std::uint8_t needle) noexcept {
    return g_count_one.load(std::memory_order_relaxed)(haystack, needle);
}

}  // namespace qarvo

// The byte-set searches, through pointers as find_one/two/three/n are. Each
// starts at its *_first routine, which makes the choice (if no other call
// made it yet), stores the chosen routine and searches.
namespace qarvo {
namespace {

SearchResult find_any_first(ByteRange haystack, const ByteSet& set) noexcept;
SearchResult rfind_any_first(ByteRange haystack, const ByteSet& set) noexcept;
SearchResult find_not_any_first(ByteRange haystack, const ByteSet& set) noexcept;
SearchResult rfind_not_any_first(ByteRange haystack, const ByteSet& set) noexcept;

constinit std::atomic<decltype(SearchRoutines::find_any)> g_find_any{&find_any_first};
constinit std::atomic<decltype(SearchRoutines::rfind_any)> g_rfind_any{&rfind_any_first};
constinit std::atomic<decltype(SearchRoutines::find_not_any)> g_find_not_any{&find_not_any_first};
constinit std::atomic<decltype(SearchRoutines::rfind_not_any)> g_rfind_not_any{
    &rfind_not_any_first};

[[gnu::noinline, gnu::cold]] SearchResult find_any_first(ByteRange haystack,
                                                         const ByteSet& set) noexcept {
    const SearchRoutines& active = active_routines();
    g_find_any.store(active.find_any, std::memory_order_relaxed);
    return active.find_any(haystack, set);
}

[[gnu::noinline, gnu::cold]] SearchResult rfind_any_first(ByteRange haystack,
                                                          const ByteSet& set) noexcept {
    const SearchRoutines& active = active_routines();
    g_rfind_any.store(active.rfind_any, std::memory_order_relaxed);
    return active.rfind_any(haystack, set);
}

[[gnu::noinline, gnu::cold]] SearchResult find_not_any_first(ByteRange haystack,
                                                             const ByteSet& set) noexcept {
    const SearchRoutines& active = active_routines();
    g_find_not_any.store(active.find_not_any, std::memory_order_relaxed);
    return active.find_not_any(haystack, set);
}

[[gnu::noinline, gnu::cold]] SearchResult rfind_not_any_first(ByteRange haystack,
                                                              const ByteSet& set) noexcept {
    const SearchRoutines& active = active_routines();
    g_rfind_not_any.store(active.rfind_not_any, std::memory_order_relaxed);
    return active.rfind_not_any(haystack, set);
}

}  // namespace

SearchResult find_any(ByteRange haystack, const ByteSet& set) noexcept {
    return g_find_any.load(std::memory_order_relaxed)(haystack, set);
}

SearchResult rfind_any(ByteRange haystack, const ByteSet& set) noexcept {
    return g_rfind_any.load(std::memory_order_relaxed)(haystack, set);
}

SearchResult find_not_any(ByteRange haystack, const ByteSet& set) noexcept {
    return g_find_not_any.load(std::memory_order_relaxed)(haystack, set);
}

SearchResult rfind_not_any(ByteRange haystack, const ByteSet& set) noexcept {
    return g_rfind_not_any.load(std::memory_order_relaxed)(haystack, set);
}

}  // namespace qarvo

// Every start of a short needle, through pointers as the searches are.
namespace qarvo {
namespace {

std::size_t find_starts_first(ByteRange haystack, ByteRange needle, StartsCursor& cursor,
                              std::span<std::uint64_t> out) noexcept;
std::size_t count_starts_first(ByteRange haystack, ByteRange needle, StartsCursor& cursor) noexcept;

constinit std::atomic<decltype(SearchRoutines::find_starts)> g_find_starts{&find_starts_first};
constinit std::atomic<decltype(SearchRoutines::count_starts)> g_count_starts{&count_starts_first};

[[gnu::noinline, gnu::cold]] std::size_t find_starts_first(ByteRange haystack, ByteRange needle,
                                                           StartsCursor& cursor,
                                                           std::span<std::uint64_t> out) noexcept {
    const SearchRoutines& active = active_routines();
    g_find_starts.store(active.find_starts, std::memory_order_relaxed);
    return active.find_starts(haystack, needle, cursor, out);
}

[[gnu::noinline, gnu::cold]] std::size_t count_starts_first(ByteRange haystack, ByteRange needle,
                                                            StartsCursor& cursor) noexcept {
    const SearchRoutines& active = active_routines();
    g_count_starts.store(active.count_starts, std::memory_order_relaxed);
    return active.count_starts(haystack, needle, cursor);
}

// The case-insensitive searches, through pointers as the byte-set searches.
SearchResult find_folded_first(ByteRange haystack, ByteRange needle) noexcept;
SearchResult rfind_folded_first(ByteRange haystack, ByteRange needle) noexcept;

constinit std::atomic<decltype(SearchRoutines::find_folded)> g_find_folded{&find_folded_first};
constinit std::atomic<decltype(SearchRoutines::rfind_folded)> g_rfind_folded{&rfind_folded_first};

[[gnu::noinline, gnu::cold]] SearchResult find_folded_first(ByteRange haystack,
                                                            ByteRange needle) noexcept {
    const SearchRoutines& active = active_routines();
    g_find_folded.store(active.find_folded, std::memory_order_relaxed);
    return active.find_folded(haystack, needle);
}

[[gnu::noinline, gnu::cold]] SearchResult rfind_folded_first(ByteRange haystack,
                                                             ByteRange needle) noexcept {
    const SearchRoutines& active = active_routines();
    g_rfind_folded.store(active.rfind_folded, std::memory_order_relaxed);
    return active.rfind_folded(haystack, needle);
}

}  // namespace

std::size_t find_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor,
                        std::span<std::uint64_t> out) noexcept {
    return g_find_starts.load(std::memory_order_relaxed)(haystack, needle, cursor, out);
}

std::size_t count_starts(ByteRange haystack, ByteRange needle, StartsCursor& cursor) noexcept {
    return g_count_starts.load(std::memory_order_relaxed)(haystack, needle, cursor);
}

SearchResult find_folded(ByteRange haystack, ByteRange needle) noexcept {
    return g_find_folded.load(std::memory_order_relaxed)(haystack, needle);
}

SearchResult rfind_folded(ByteRange haystack, ByteRange needle) noexcept {
    return g_rfind_folded.load(std::memory_order_relaxed)(haystack, needle);
}

}  // namespace qarvo

// The bucket filter of a few needles, through a pointer as the searches are.
namespace qarvo {
namespace {

std::size_t find_bucket_hits_first(ByteRange haystack, const BucketFilter& filter,
                                   std::span<BucketHit> out) noexcept;

constinit std::atomic<decltype(SearchRoutines::find_bucket_hits)> g_find_bucket_hits{
    &find_bucket_hits_first};

[[gnu::noinline, gnu::cold]] std::size_t find_bucket_hits_first(ByteRange haystack,
                                                                const BucketFilter& filter,
                                                                std::span<BucketHit> out) noexcept {
    const SearchRoutines& active = active_routines();
    g_find_bucket_hits.store(active.find_bucket_hits, std::memory_order_relaxed);
    return active.find_bucket_hits(haystack, filter, out);
}

}  // namespace

std::size_t find_bucket_hits(ByteRange haystack, const BucketFilter& filter,
                             std::span<BucketHit> out) noexcept {
    return g_find_bucket_hits.load(std::memory_order_relaxed)(haystack, filter, out);
}

}  // namespace qarvo

// The stride filter of many needles, through a pointer as the searches are.
namespace qarvo {
namespace {

std::size_t find_stride_hits_first(ByteRange haystack, const StrideFilter& filter,
                                   std::span<std::size_t> out) noexcept;

constinit std::atomic<decltype(SearchRoutines::find_stride_hits)> g_find_stride_hits{
    &find_stride_hits_first};

[[gnu::noinline, gnu::cold]] std::size_t find_stride_hits_first(
    ByteRange haystack, const StrideFilter& filter, std::span<std::size_t> out) noexcept {
    const SearchRoutines& active = active_routines();
    g_find_stride_hits.store(active.find_stride_hits, std::memory_order_relaxed);
    return active.find_stride_hits(haystack, filter, out);
}

}  // namespace

std::size_t find_stride_hits(ByteRange haystack, const StrideFilter& filter,
                             std::span<std::size_t> out) noexcept {
    return g_find_stride_hits.load(std::memory_order_relaxed)(haystack, filter, out);
}

}  // namespace qarvo
