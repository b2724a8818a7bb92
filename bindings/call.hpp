// The call surface shared by the four search functions: argument binding,
// byte views on buffers, byte extraction and result boxing.
//
// A call on short data costs mostly this conversion work, so the common
// shapes (two positional arguments, a small int, an exact `bytes`, a
// haystack read in place: plain_haystack.hpp) are answered by inline code
// here, and everything else by the out-of-line general path, which gives
// every message.
#pragma once

#include <cstdint>
#include <optional>

#include "byte_view.hpp"
#include "fault.hpp"
#include "messages.hpp"
#include "plain_haystack.hpp"
#include "qarvo/search.hpp"
#include "result.hpp"
#include "result_object.hpp"

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

// The fast-call entries (METH_FASTCALL | METH_KEYWORDS) of the four
// functions. Each answers the plain call with its plain search, compiled
// into the entry, so that such a call makes no further calls of ours besides
// the search; every other call runs the body inside the module boundary
// (run_search_boundary in boundary.hpp).
using FastcallEntry = PyObject* (*)(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) noexcept;
extern const FastcallEntry search_one_entry;
extern const FastcallEntry search_two_entry;
extern const FastcallEntry search_three_entry;
extern const FastcallEntry search_n_entry;

}  // namespace qarvo::py
