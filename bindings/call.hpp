// The call surface shared by the four search functions: argument binding,
// byte views on buffers, byte extraction and result boxing.
#pragma once

#include <cstdint>

#include "byte_view.hpp"
#include "failure.hpp"
#include "qarvo/search.hpp"

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

Result<BoundArguments> bind_arguments(const CallDescription& call, PyObject* const* args,
                                      Py_ssize_t positional_count, PyObject* keyword_names);

// acquire_byte_view plus the haystack's contiguity check.
Status acquire_haystack(PyObject* haystack, ByteView& view);

// The integer as one byte: signed 32-bit conversion, then the 0..255 check.
Result<std::uint8_t> extract_byte(PyObject* object);

// A TypeError (exactly) becomes "argument 'needle': " + its message, keeping
// its cause; any other error passes unchanged.
PendingError wrap_needle_error(PendingError error);

// int offset or None.
OwnedRef to_result(SearchResult result);

}  // namespace qarvo::py

namespace qarvo::py {

// Bodies of the four functions: (argument array, positional count, keyword
// names) -> new reference to the result, or the error to raise.
using CallBody = Result<OwnedRef> (*)(PyObject* const*, Py_ssize_t, PyObject*);
Result<OwnedRef> search_one(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
Result<OwnedRef> search_two(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
Result<OwnedRef> search_three(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
Result<OwnedRef> search_n(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The fast-call entry (METH_FASTCALL | METH_KEYWORDS) of a body: every call
// from the interpreter goes through the module boundary.
template <CallBody Body>
PyObject* fastcall_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) noexcept {
    return run_boundary([=] { return Body(args, nargs, kwnames); });
}

}  // namespace qarvo::py
