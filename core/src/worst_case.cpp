#include "worst_case.hpp"

#include "two_way.hpp"

namespace qarvo::detail {

SearchResult two_way_search(ByteRange haystack, ByteRange needle) noexcept {
    return two_way_find(haystack, needle);
}

SearchResult two_way_search_last(ByteRange haystack, ByteRange needle) noexcept {
    return two_way_rfind(haystack, needle);
}

}  // namespace qarvo::detail
