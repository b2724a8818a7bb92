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

// The folded searches count Two-Way's comparisons in the test build too,
// for the linear bound of the case-insensitive searches.
template <Direction D>
SearchResult two_way_folded(ByteRange haystack, ByteRange needle) noexcept {
    return two_way_find_with<D, true>(haystack, needle,
                                      [](std::uint8_t a, std::uint8_t b) noexcept {
                                          QARVO_PROBE_COMPARED(1);
                                          return a == b;
                                      });
}

SearchResult two_way_search_folded(ByteRange haystack, ByteRange needle) noexcept {
    return two_way_folded<Direction::first>(haystack, needle);
}

SearchResult two_way_search_last_folded(ByteRange haystack, ByteRange needle) noexcept {
    return two_way_folded<Direction::last>(haystack, needle);
}

NeedlePeriod needle_period(ByteRange needle, bool folded) noexcept {
    const CriticalFactorization cut =
        folded ? critical_factorization(Folded<Direction::first>{needle.data, needle.size},
                                        needle.size)
               : critical_factorization(needle.data, needle.size);
    return {cut.period, cut.periodic};
}

}  // namespace qarvo::detail
