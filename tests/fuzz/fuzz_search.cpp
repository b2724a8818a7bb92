// libFuzzer target: every routine of every supported variant against the
// naive scan, on a haystack and a needle cut from the fuzzer's input.
//
// Input layout: byte 0 is the needle length (modulo what is left), then the
// needle, then the haystack. Both are copied into heap blocks of exactly
// their size, so AddressSanitizer sees a read past either end of either one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "naive.hpp"
#include "qarvo/backend.hpp"
#include "qarvo/search.hpp"

namespace {

using qarvo::ByteRange;
using qarvo::SearchResult;

// An exact-size heap copy (no allocation at all for an empty range, so the
// routines also see the null data pointer of an empty range).
struct ExactCopy {
    std::unique_ptr<std::uint8_t[]> storage;
    std::size_t size = 0;

    explicit ExactCopy(std::span<const std::uint8_t> bytes) : size(bytes.size()) {
        if (size != 0) {
            storage = std::make_unique<std::uint8_t[]>(size);
            std::memcpy(storage.get(), bytes.data(), size);
        }
    }
    ByteRange range() const { return ByteRange{storage.get(), size}; }
    std::span<const std::uint8_t> span() const { return {storage.get(), size}; }
};

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t rest = size - 1;
    const std::size_t m = rest == 0 ? 0 : data[0] % (rest + 1);
    const ExactCopy needle(std::span<const std::uint8_t>(data + 1, m));
    const ExactCopy haystack(std::span<const std::uint8_t>(data + 1 + m, rest - m));

    const SearchResult expected = qarvo::test::naive_find(haystack.span(), needle.span());
    for (const qarvo::Backend backend : qarvo::supported_backends()) {
        const qarvo::SearchRoutines* r = qarvo::routines_for(backend);
        check(r != nullptr);
        check(r->find_n(haystack.range(), needle.range()) == expected);
        // The short routines on the needle's first one, two and three bytes.
        const std::uint8_t* n = needle.storage.get();
        if (m >= 1) {
            check(r->find_one(haystack.range(), n[0]) ==
                  qarvo::test::naive_find(haystack.span(), needle.span().first(1)));
        }
        if (m >= 2) {
            check(r->find_two(haystack.range(), n[0], n[1]) ==
                  qarvo::test::naive_find(haystack.span(), needle.span().first(2)));
        }
        if (m >= 3) {
            check(r->find_three(haystack.range(), n[0], n[1], n[2]) ==
                  qarvo::test::naive_find(haystack.span(), needle.span().first(3)));
        }
    }
    return 0;
}
