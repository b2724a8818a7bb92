// No routine reads outside its range: every haystack of 0 to 512 bytes is put
// right before an inaccessible page and right after one, so a read one byte
// past either end faults and kills the test.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <span>

#include "backend_fixture.hpp"
#include "planting.hpp"

namespace qarvo::test {
namespace {

// Three pages mapped as [no access][read-write][no access].
class GuardedPage {
public:
    GuardedPage() {
        const long page = sysconf(_SC_PAGESIZE);
        page_size_ = page > 0 ? static_cast<std::size_t>(page) : 4096;
        void* base = mmap(nullptr, 3 * page_size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) {
            ADD_FAILURE() << "mmap failed";
            return;
        }
        base_ = static_cast<std::uint8_t*>(base);
        if (mprotect(base_ + page_size_, page_size_, PROT_READ | PROT_WRITE) != 0) {
            ADD_FAILURE() << "mprotect failed";
        }
    }
    ~GuardedPage() {
        if (base_ != nullptr) {
            munmap(base_, 3 * page_size_);
        }
    }
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;

    bool ok() const { return base_ != nullptr; }
    std::size_t size() const { return page_size_; }

    // `bytes` copied so that they end at the start of the upper guard page.
    std::span<const std::uint8_t> at_end(std::span<const std::uint8_t> bytes) {
        std::uint8_t* start = base_ + 2 * page_size_ - bytes.size();
        copy_to(start, bytes);
        return {start, bytes.size()};
    }
    // `bytes` copied so that they begin right after the lower guard page.
    std::span<const std::uint8_t> at_start(std::span<const std::uint8_t> bytes) {
        std::uint8_t* start = base_ + page_size_;
        copy_to(start, bytes);
        return {start, bytes.size()};
    }

private:
    static void copy_to(std::uint8_t* out, std::span<const std::uint8_t> bytes) {
        if (!bytes.empty()) {  // an empty vector's data() may be null
            std::memcpy(out, bytes.data(), bytes.size());
        }
    }

    std::size_t page_size_ = 0;
    std::uint8_t* base_ = nullptr;
};

class GuardPages : public EveryBackend {};

// The needles tried: short ones for find_one/two/three and find_n's dispatch,
// and long ones whose last-byte loads reach furthest.
const Bytes kNeedles[] = {
    Bytes{'q'},
    Bytes{'q', 'r'},
    Bytes{'q', 'r', 's'},
    Bytes{'q', 'r', 's', 't'},
    Bytes{'q', 'r', 's', 't', 'u'},
    Bytes(16, 'q'),
    Bytes(17, 'q'),
    Bytes(64, 'q'),
    Bytes(65, 'q'),
};

TEST_P(GuardPages, EveryRoutineStaysInsideTheRange) {
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    ASSERT_GE(page.size(), 512u);
    for (std::size_t n = 0; n <= 512; ++n) {
        for (const Bytes& needle : kNeedles) {
            // Haystacks: no match at all; the needle at the very start; the
            // needle at the very end; all but the needle's last byte at the
            // end, so a search must look at the last byte and stop there.
            Bytes none(n, '.');
            Bytes first = none;
            Bytes last = none;
            Bytes partial = none;
            if (needle.size() <= n) {
                plant(first, 0, needle);
                plant(last, n - needle.size(), needle);
            }
            if (needle.size() - 1 <= n) {
                plant(partial, n - (needle.size() - 1),
                      std::span<const std::uint8_t>(needle).first(needle.size() - 1));
            }
            for (const Bytes* contents : {&none, &first, &last, &partial}) {
                for (const bool at_end : {true, false}) {
                    const auto haystack =
                        at_end ? page.at_end(*contents) : page.at_start(*contents);
                    expect_all_match_naive(haystack, needle);
                    ASSERT_FALSE(HasFatalFailure())
                        << "length " << n << (at_end ? ", before" : ", after") << " the guard page";
                }
            }
        }
    }
}

QARVO_FOR_EVERY_BACKEND(GuardPages);

}  // namespace
}  // namespace qarvo::test
