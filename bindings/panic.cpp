#include "panic.hpp"

#include <atomic>

#include "debug_render.hpp"
#include "messages.hpp"
#include "pending_error.hpp"

namespace qarvo::py {
namespace {

// The current exception without take_error's PanicException check, for use
// while that type is being created.
PendingError fetch_error_raw() {
    OwnedRef exception = OwnedRef::steal(compat::get_raised_exception());
    if (!exception) {
        return PendingError::lazy(exception_type::system_error, messages::kNoExceptionSet);
    }
    return PendingError::normalized(std::move(exception));
}

}  // namespace

PyObject* panic_exception_type() {
    static std::atomic<PyObject*> cell{nullptr};
    if (PyObject* type = cell.load(std::memory_order_acquire)) {
        return type;
    }
    OwnedRef base = OwnedRef::borrow(PyExc_BaseException);
    PyObject* created = PyErr_NewExceptionWithDoc(messages::kPanicTypeName, messages::kPanicDoc,
                                                  base.get(), nullptr);
    base.reset();
    if (created == nullptr) {
        PendingError error = fetch_error_raw();
        raise_fault(messages::kPanicTypeFailed + debug_render(error));
    }
    PyObject* stored = nullptr;
    if (!cell.compare_exchange_strong(stored, created, std::memory_order_acq_rel)) {
        release_reference(created);
        return stored;
    }
    return created;
}

}  // namespace qarvo::py
