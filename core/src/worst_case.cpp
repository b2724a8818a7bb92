#include "worst_case.hpp"

#include "probe.hpp"
#include "two_way.hpp"

namespace qarvo::detail {

SearchResult two_way_search(ByteRange haystack, ByteRange needle) noexcept {
#if QARVO_SEARCH_PROBES
    // The test build counts Two-Way's comparisons with the hook its own tests
    // use (two_way_find_with), on the same code.
    return two_way_find_with(haystack, needle, [](std::uint8_t a, std::uint8_t b) noexcept {
        QARVO_PROBE_COMPARED(1);
        return a == b;
    });
#else
    return two_way_find(haystack, needle);
#endif
}

SearchResult two_way_search_last(ByteRange haystack, ByteRange needle) noexcept {
    return two_way_rfind(haystack, needle);
}

NeedlePeriod needle_period(ByteRange needle) noexcept {
    const CriticalFactorization cut = critical_factorization(needle.data, needle.size);
    return {cut.period, cut.periodic};
}

}  // namespace qarvo::detail
