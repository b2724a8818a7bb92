// A page (or a few) of read-write memory between two inaccessible ones, for
// tests that prove a routine reads nothing outside its range: a range that
// ends at the end of the middle pages, or starts at their start, faults on
// any read past it.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace qarvo::test {

// Pages mapped as [no access][`pages` read-write][no access].
class GuardedPage {
public:
    explicit GuardedPage(std::size_t pages = 1) : pages_(pages) {
        const long page = sysconf(_SC_PAGESIZE);
        page_size_ = page > 0 ? static_cast<std::size_t>(page) : 4096;
        void* base =
            mmap(nullptr, (pages_ + 2) * page_size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) {
            ADD_FAILURE() << "mmap failed";
            return;
        }
        base_ = static_cast<std::uint8_t*>(base);
        if (mprotect(base_ + page_size_, pages_ * page_size_, PROT_READ | PROT_WRITE) != 0) {
            ADD_FAILURE() << "mprotect failed";
        }
    }
    ~GuardedPage() {
        if (base_ != nullptr) {
            munmap(base_, (pages_ + 2) * page_size_);
        }
    }
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;

    bool ok() const { return base_ != nullptr; }
    // The read-write bytes between the guard pages.
    std::size_t size() const { return pages_ * page_size_; }

    // The last `size` bytes before the upper guard page, to write in place.
    std::span<std::uint8_t> last(std::size_t size) {
        return {base_ + (pages_ + 1) * page_size_ - size, size};
    }
    // `bytes` copied so that they end at the start of the upper guard page.
    std::span<const std::uint8_t> at_end(std::span<const std::uint8_t> bytes) {
        const std::span<std::uint8_t> out = last(bytes.size());
        copy_to(out.data(), bytes);
        return out;
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

    std::size_t pages_ = 1;
    std::size_t page_size_ = 0;
    std::uint8_t* base_ = nullptr;
};

}  // namespace qarvo::test
