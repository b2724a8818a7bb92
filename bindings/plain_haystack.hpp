// The haystack of the plain call, f(haystack, needle), read in place when its
// buffer request could neither fail nor be seen: an exact `bytes`, and with
// the interpreter lock, an exact `bytearray` or `memoryview`.
#pragma once

#include "byte_view.hpp"

namespace qarvo::py {

#ifndef Py_GIL_DISABLED
// What the buffer request of an exact memoryview refuses before it copies
// the view: a released view, or (3.12 on) a restricted one, such as the view
// that __release_buffer__ of a Python subclass of a built-in exporter gets.
#ifdef _Py_MEMORYVIEW_RESTRICTED
inline constexpr int kViewRefused = _Py_MEMORYVIEW_RELEASED | _Py_MEMORYVIEW_RESTRICTED;
#else
inline constexpr int kViewRefused = _Py_MEMORYVIEW_RELEASED;
#endif

// Sets `bytes` to what an exact memoryview's buffer request would give, and
// returns true, if the request would succeed and ByteView would accept and
// the haystack check pass them; returns false otherwise. The request
// (PyBUF_FULL_RO) refuses a released view and otherwise hands out a copy of
// the view's own Py_buffer with its format, shape and strides, so the checks
// read that Py_buffer itself, through the layout predicate ByteView applies
// to a requested one.
//
// For contiguity the view's own flag stands in for ByteView's test: a view
// sets _Py_MEMORYVIEW_C when it is made, for a layout without suboffsets that
// PyBuffer_IsContiguous calls C-contiguous (one dimension: one item or a
// stride of one item), so the flag never holds where that test fails. The one
// layout the test accepts and the flag does not, an empty view with a longer
// stride, takes the general steps. Reading the flag spares the dependent
// loads of shape[0] and strides[0], a nanosecond of a call of 20.
[[gnu::always_inline]] inline bool memoryview_in_place(PyObject* object, ByteRange& bytes) {
    const auto* view = reinterpret_cast<const PyMemoryViewObject*>(object);
    if ((view->flags & kViewRefused) != 0 ||
        (view->mbuf->flags & _Py_MANAGED_BUFFER_RELEASED) != 0) {
        return false;
    }
    const Py_buffer& buffer = view->view;
    if (!ByteView::has_byte_layout(buffer) || (view->flags & _Py_MEMORYVIEW_C) == 0 ||
        buffer.buf == nullptr) {
        return false;
    }
    bytes = ByteRange{static_cast<const std::uint8_t*>(buffer.buf),
                      static_cast<std::size_t>(buffer.len)};
    return true;
}
#endif

// Sets `bytes` to the haystack's bytes and returns true when reading the
// haystack can neither fail nor run Python code, so that a plain search can
// skip the general steps when its other arguments are as simple. Returns false otherwise: then the
// general steps run from the start and give every error. (An out-parameter rather than an optional:
// the compilers keep an optional range in memory.)
//
// An exact `bytes` is read in place by the general steps too (ByteView).
//
// An exact `bytearray` or `memoryview` would be requested and released
// through its type's C slots, which run no Python code and cannot fail for
// the buffers accepted here; the bytes read are those the request would give.
// Skipping the pair is unobservable:
// - its only effects are on the exporter's reference count and export
//   count, each raised and lowered again within the call. While this thread
//   holds the interpreter lock, which the call never gives up on this path,
//   nothing else runs that could read them or resize the bytearray: no Python
//   code (no conversion here calls any, no object is released, no trace or
//   audit event is raised inside a C call) and no other thread.
// - lock_depth is read only by the release, to see that the lock is held;
//   with nothing to release nothing reads it, and the boundary counts it as
//   for any call.
// - every way the general steps can fail (a released view, a refused layout,
//   a gapped or NULL buffer) leaves this function with nothing, and the
//   checks made here have no effects of their own, so the general steps then
//   raise what they always raise, in their own order.
// A free-threaded interpreter lets other threads run during the call, and
// there the export count is what keeps a bytearray from being resized under
// the search: there only `bytes` is read in place.
[[gnu::always_inline]] inline bool haystack_in_place(PyObject* haystack, ByteRange& bytes) {
    if (PyBytes_CheckExact(haystack)) [[likely]] {
        bytes = ByteRange{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(haystack)),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(haystack))};
        return true;
    }
#ifndef Py_GIL_DISABLED
    if (PyMemoryView_Check(haystack)) {  // memoryview has no subclasses
        return memoryview_in_place(haystack, bytes);
    }
    if (PyByteArray_CheckExact(haystack)) {
        // Its request always succeeds: one C-contiguous run of unsigned
        // bytes ("B"), at a data pointer that is never NULL (an empty
        // bytearray points at a static empty string).
        bytes = ByteRange{reinterpret_cast<const std::uint8_t*>(PyByteArray_AS_STRING(haystack)),
                          static_cast<std::size_t>(PyByteArray_GET_SIZE(haystack))};
        return true;
    }
#endif
    return false;
}

// haystack_in_place for the plain call of the first-occurrence functions,
// f(haystack, needle).
[[gnu::always_inline]] inline bool plain_haystack(PyObject* const* args,
                                                  Py_ssize_t positional_count,
                                                  PyObject* keyword_names, ByteRange& bytes) {
    if (positional_count != 2 || keyword_names != nullptr) [[unlikely]] {
        return false;
    }
    return haystack_in_place(args[0], bytes);
}

}  // namespace qarvo::py
