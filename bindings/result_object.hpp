// The int object (or None) that a search function returns for a result.
#pragma once

#include <atomic>
#include <cstdint>

#include "fault.hpp"
#include "py.hpp"
#include "qarvo/search.hpp"

namespace qarvo::py {

// The int objects of offsets below kSmallOffsets, each taken from the
// interpreter once and then kept: PyLong_FromUnsignedLongLong hands out the
// interpreter's own cached small ints for these, so the table holds the very
// objects a fresh conversion would return, and a short search's result costs
// one load instead of a call into the interpreter. Slots are filled under the
// interpreter lock; the atomics only keep the reads plain loads.
inline constexpr std::uint64_t kSmallOffsets = 256;
inline std::atomic<PyObject*> small_offsets[kSmallOffsets];

// A new reference to the int for offset; raises an internal fault if the
// interpreter cannot make it.
[[gnu::noinline]] inline OwnedRef box_offset(std::uint64_t offset) {
    OwnedRef boxed =
        OwnedRef::steal(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(offset)));
    if (!boxed) {
        api_call_failed();
    }
    if (offset < kSmallOffsets) {
        // The table's own reference, kept for the life of the process.
        OwnedRef kept = OwnedRef::borrow(boxed.get());
        PyObject* empty = nullptr;
        if (small_offsets[offset].compare_exchange_strong(empty, kept.get(),
                                                          std::memory_order_relaxed)) {
            static_cast<void>(kept.release());
        }
    }
    return boxed;
}

// A new reference to the result's object when it needs no conversion: None,
// or an offset whose int is kept. NULL when the offset must be boxed.
[[gnu::always_inline]] inline PyObject* kept_result(SearchResult result) noexcept {
    if (!result.found()) {
        return Py_NewRef(Py_None);
    }
    const std::uint64_t offset = result.offset();
    if (offset < kSmallOffsets) [[likely]] {
        if (PyObject* kept = small_offsets[offset].load(std::memory_order_relaxed)) [[likely]] {
            return Py_NewRef(kept);
        }
    }
    return nullptr;
}

// int offset or None.
[[gnu::always_inline]] inline OwnedRef to_result(SearchResult result) {
    if (PyObject* kept = kept_result(result)) [[likely]] {
        return OwnedRef::steal(kept);
    }
    return box_offset(result.offset());
}

}  // namespace qarvo::py
