// Which variant runs: the variants compiled in, the ones the CPU can execute,
// the once-per-process choice, and the public find_* entry points.
#include <atomic>
#include <cstdlib>
#include <span>
#include <string_view>

#include "qarvo/backend.hpp"
#include "qarvo/search.hpp"
#include "variants.hpp"

namespace qarvo {
namespace {

// Compiled variants, narrowest first. Each one needs every CPU feature of the
// ones before it (the AVX-512 variant also runs AVX2 code for its remainder),
// so the variants a CPU can execute are always a prefix of this list.
constexpr Backend kCompiled[] = {
    Backend::scalar,
#if QARVO_HAVE_SSE2
    Backend::sse2,
#endif
#if QARVO_HAVE_NEON
    Backend::neon,
#endif
#if QARVO_HAVE_AVX2
    Backend::avx2,
#endif
#if QARVO_HAVE_AVX512BW
    Backend::avx512bw,
#endif
};

// Whether the running CPU (and OS, which must save the wide registers) can
// execute a compiled variant. Features are read from libgcc's CPU model,
// which __builtin_cpu_init fills in even before static constructors ran.
bool cpu_runs(Backend backend) noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                      __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    switch (backend) {
        case Backend::avx2:
            return avx2;
        case Backend::avx512bw:
            return avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
        default:
            return true;
    }
#else
    (void)backend;
    return true;
#endif
}

const SearchRoutines* compiled_routines(Backend backend) noexcept {
    switch (backend) {
        case Backend::scalar:
            return &detail::kScalarRoutines;
#if QARVO_HAVE_SSE2
        case Backend::sse2:
            return &detail::kSse2Routines;
#endif
#if QARVO_HAVE_NEON
        case Backend::neon:
            return &detail::kNeonRoutines;
#endif
#if QARVO_HAVE_AVX2
        case Backend::avx2:
            return &detail::kAvx2Routines;
#endif
#if QARVO_HAVE_AVX512BW
        case Backend::avx512bw:
            return &detail::kAvx512bwRoutines;
#endif
        default:
            return nullptr;
    }
}

// The widest supported variant, or the one QARVO_BACKEND names if that one is
// supported; any other value of the variable is ignored.
const SearchRoutines* choose_routines() noexcept {
    const std::span<const Backend> supported = supported_backends();
    Backend chosen = supported.back();
    if (const char* requested = std::getenv("QARVO_BACKEND")) {
        for (const Backend backend : supported) {
            if (backend_name(backend) == requested) {
                chosen = backend;
            }
        }
    }
    return compiled_routines(chosen);
}

// The choice, made by the first call; racing first calls compute the same
// value and the first one stored wins. No lock, no allocation.
constinit std::atomic<const SearchRoutines*> g_active{nullptr};

}  // namespace

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
    const SearchRoutines* active = g_active.load(std::memory_order_acquire);
    if (active == nullptr) [[unlikely]] {
        const SearchRoutines* chosen = choose_routines();
        if (g_active.compare_exchange_strong(active, chosen, std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
            active = chosen;
        }
    }
    return *active;
}

SearchResult find_one(ByteRange haystack, std::uint8_t needle) noexcept {
    return active_routines().find_one(haystack, needle);
}

SearchResult find_two(ByteRange haystack, std::uint8_t b0, std::uint8_t b1) noexcept {
    return active_routines().find_two(haystack, b0, b1);
}

SearchResult find_three(ByteRange haystack, std::uint8_t b0, std::uint8_t b1,
                        std::uint8_t b2) noexcept {
    return active_routines().find_three(haystack, b0, b1, b2);
}

SearchResult find_n(ByteRange haystack, ByteRange needle) noexcept {
    return active_routines().find_n(haystack, needle);
}

}  // namespace qarvo
