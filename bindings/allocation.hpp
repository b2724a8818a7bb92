// Allocation failures that remember their size.
//
// The module is linked with --wrap for the throwing operator new (see
// allocation.cpp), so every allocation the bindings make that fails throws
// AllocationFailure instead of a bare std::bad_alloc. The module boundary
// names the size in its report; code that sizes an allocation from the
// caller's input catches std::bad_alloc itself and raises MemoryError.
#pragma once

#include <cstddef>
#include <new>
#include <string>

#include "messages.hpp"

namespace qarvo::py {

class AllocationFailure : public std::bad_alloc {
public:
    explicit AllocationFailure(std::size_t size) noexcept : size_(size) {}
    std::size_t size() const noexcept { return size_; }
    const char* what() const noexcept override { return messages::kOutOfMemory; }

private:
    std::size_t size_;
};

// "memory allocation of N bytes failed" when the size is known.
std::string allocation_failure_message(const std::bad_alloc& failure);

}  // namespace qarvo::py
