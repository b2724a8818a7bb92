// The module boundary: the one way in from the interpreter, for
// PyInit_qarvo and the four fast-call entries. It turns a Result into a new
// reference or NULL with an exception set, an internal fault into a
// PanicException, and anything it cannot convert into an abort.
#pragma once

#include <new>
#include <utility>

#include "allocation.hpp"
#include "fault.hpp"
#include "messages.hpp"
#include "pending_error.hpp"
#include "py.hpp"
#include "result.hpp"

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

}  // namespace qarvo::py
