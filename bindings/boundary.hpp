// The module boundary: the one way in from the interpreter, for
// PyInit_qarvo and the four fast-call entries. It turns a Result into a new
// reference or NULL with an exception set, an internal fault into a
// PanicException, and anything it cannot convert into an abort.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "allocation.hpp"
#include "fault.hpp"
#include "messages.hpp"
#include "pending_error.hpp"
#include "py.hpp"
#include "qarvo/search.hpp"
#include "result.hpp"
#include "result_object.hpp"

namespace qarvo::py {

// The one way in from the interpreter. Counts lock_depth, drains deferred
// releases, runs `body` (which returns Result<OwnedRef>), and turns the
// outcome into a new reference or NULL with an exception set.
template <class Body>
PyObject* run_boundary(Body&& body) noexcept {
    LockDepthScope depth;
    drain_deferred_releases();
    try {
        try {
            Result<OwnedRef> outcome = body();
            if (outcome) {
                return std::move(outcome).value().release();
            }
            restore_error(std::move(outcome).error());
        } catch (InternalFault& fault) {
            restore_error(fault_to_error(fault.take_payload()));
        }
    } catch (InternalFault& fault) {
        abort_with_report(messages::kUncaughtFault, fault.where());
    } catch (const std::bad_alloc& failure) {
        abort_with_report(allocation_failure_message(failure));
    } catch (...) {
        abort_with_report(messages::kForeignException);
    }
    return nullptr;
}

// The two halves of a search function, each taking the arguments as the
// interpreter passes them (borrowed): the plain search, which answers only
// the calls that need nothing but a search, and the body, which answers all.
using PlainSearch = bool (*)(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                             SearchResult& found) noexcept;
using SearchBody = Result<OwnedRef> (*)(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// A search function's body inside the boundary, out of line so that the
// entry below keeps the small frame of its common case.
template <SearchBody Body>
[[gnu::noinline]] PyObject* run_search_body(PyObject* const* args, Py_ssize_t nargs,
                                            PyObject* kwnames) noexcept {
    return run_boundary([=] { return Body(args, nargs, kwnames); });
}

// An offset's int, boxed inside the boundary so that a failed conversion is
// raised as from any body.
[[gnu::noinline]] inline PyObject* run_boxing(std::uint64_t offset) noexcept {
    return run_boundary([=] { return Result<OwnedRef>(box_offset(offset)); });
}

// A failed conversion of a plain lane's offset, raised as box_offset's
// failure is inside the boundary: the interpreter's error is reported and an
// internal fault raised.
[[gnu::noinline, gnu::cold]] inline PyObject* boxing_failed() noexcept {
    return run_boundary([]() -> Result<OwnedRef> { api_call_failed(); });
}

// A plain lane's offset without a kept int. Beyond the kept ones the
// interpreter's conversion is called straight: it cannot run Python code or
// release a reference, so the boundary has nothing to count or drain for it,
// and entering it was a visible share of a short call (compare_matches.py:
// rfind of one byte near the end of 1 KiB and more; core/TUNING.md). A kept
// one's first conversion fills the table inside the boundary.
[[gnu::always_inline]] inline PyObject* box_plain(std::uint64_t offset) noexcept {
    if (offset >= kSmallOffsets) [[likely]] {
        if (PyObject* boxed = PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(offset)))
            [[likely]] {
            return boxed;
        }
        return boxing_failed();
    }
    return run_boxing(offset);
}

// The boundary of a search function, with a plain lane. `Plain` answers the
// calls that need nothing but a search (true, with `found` set) and declines
// every other (false); `Body` answers every call inside the boundary. A call
// the lane answers skips the boundary's bookkeeping, which such a call
// cannot observe:
// - lock_depth is read only where a reference is released or the lock is
//   given up or taken, and the lane does neither;
// - deferred releases are drained on entry, so the lane runs only when none
//   are waiting;
// - the lane cannot fail or throw, and a result that needs a conversion (an
//   offset without a kept int) is boxed inside the boundary.
template <PlainSearch Plain, SearchBody Body>
[[gnu::always_inline]] inline PyObject* run_search_boundary(PyObject* const* args, Py_ssize_t nargs,
                                                            PyObject* kwnames) noexcept {
    SearchResult found = SearchResult::not_found();
    if (deferred_count.load(std::memory_order_acquire) == 0 && Plain(args, nargs, kwnames, found))
        [[likely]] {
        if (PyObject* kept = kept_result(found)) [[likely]] {
            return kept;
        }
        return box_plain(found.offset());
    }
    return run_search_body<Body>(args, nargs, kwnames);
}

}  // namespace qarvo::py
