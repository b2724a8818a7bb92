// The call surface shared by the four search functions: argument binding,
// byte views on buffers, byte extraction and result boxing.
//
// A call on short data costs mostly this conversion work, so the common
// shapes (two positional arguments, a small int, an exact `bytes`, a
// haystack read in place: plain_haystack.hpp) are answered by inline code
// here, and everything else by the out-of-line general path, which gives
// every message.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "byte_view.hpp"
#include "fault.hpp"
#include "messages.hpp"
#include "plain_haystack.hpp"
#include "qarvo/search.hpp"
#include "result.hpp"

namespace qarvo::py {

// Static description of one function's parameters: (haystack, needle), both
// required, positional or keyword.
struct CallDescription {
    const char* function_name;
    const char* display_name;  // function_name + "()", the start of every binding message
};

// Borrowed from the interpreter's argument array for the duration of a call.
struct BoundArguments {
    PyObject* haystack = nullptr;
    PyObject* needle = nullptr;
};

// Any mix of positional and keyword arguments, with every binding message.
Result<BoundArguments> bind_any_arguments(const CallDescription& call, PyObject* const* args,
                                          Py_ssize_t positional_count, PyObject* keyword_names);

// The usual call, f(haystack, needle), binds here without a look at the
// keyword machinery; every other shape goes through bind_any_arguments.
[[gnu::always_inline]] inline Result<BoundArguments> bind_arguments(const CallDescription& call,
                                                                    PyObject* const* args,
                                                                    Py_ssize_t positional_count,
                                                                    PyObject* keyword_names) {
    if (positional_count == 2 && keyword_names == nullptr) [[likely]] {
        return BoundArguments{args[0], args[1]};
    }
    return bind_any_arguments(call, args, positional_count, keyword_names);
}

// The view's acquire() plus the haystack's contiguity check.
[[gnu::always_inline]] inline Status acquire_haystack(PyObject* haystack, ByteView& view) {
    if (Status acquired = view.acquire(haystack); !acquired) {
        return acquired;
    }
    if (!view.is_contiguous()) {
        view.release();
        return PendingError::lazy(exception_type::buffer_error, messages::kHaystackNotContiguous);
    }
    return success();
}

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

// int offset or None.
[[gnu::always_inline]] inline OwnedRef to_result(SearchResult result) {
    if (!result.found()) {
        return OwnedRef::borrow(Py_None);
    }
    const std::uint64_t offset = result.offset();
    if (offset < kSmallOffsets) [[likely]] {
        if (PyObject* kept = small_offsets[offset].load(std::memory_order_relaxed)) [[likely]] {
            return OwnedRef::borrow(kept);
        }
    }
    return box_offset(offset);
}

// The fast-call entries (METH_FASTCALL | METH_KEYWORDS) of the four
// functions. Each runs its body through the module boundary; the bodies are
// compiled into their entries, so a call makes no further calls of ours
// besides the search.
using FastcallEntry = PyObject* (*)(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) noexcept;
extern const FastcallEntry search_one_entry;
extern const FastcallEntry search_two_entry;
extern const FastcallEntry search_three_entry;
extern const FastcallEntry search_n_entry;

}  // namespace qarvo::py
