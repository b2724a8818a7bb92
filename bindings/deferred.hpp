// Releases of references by threads that do not hold the interpreter lock:
// parked on a process-wide list that the next entry into the module drains
// (deferred.cpp).
#pragma once

#include <atomic>
#include <cstddef>

#include "compat.hpp"

namespace qarvo::py {

// Releases one reference now when this thread holds the interpreter lock,
// otherwise defers it to the next entry into the module.
void release_reference(PyObject* object) noexcept;

// Number of references on the deferred-release list, read without its mutex
// so that the common case, nothing deferred, costs one load inline on every
// entry into the module.
inline std::atomic<std::size_t> deferred_count{0};

// Releases every deferred reference (out of line: rarely anything to do).
void drain_deferred_releases_now() noexcept;

// Releases every deferred reference. Precondition: the lock is held.
inline void drain_deferred_releases() noexcept {
    if (deferred_count.load(std::memory_order_acquire) != 0) [[unlikely]] {
        drain_deferred_releases_now();
    }
}

// Number of references waiting on the deferred-release list.
std::size_t deferred_release_count() noexcept;

}  // namespace qarvo::py
