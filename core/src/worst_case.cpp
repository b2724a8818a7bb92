#include "worst_case.hpp"

#include "two_way.hpp"

namespace qarvo::detail {

SearchResult two_way_search(ByteRange haystack, ByteRange needle) noexcept {
    return two_way_find(haystack, needle);
}

}  // namespace qarvo::detail
