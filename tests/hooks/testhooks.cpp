// _qarvo_testhooks: entries into the failure machinery and module-building
// steps of the bindings, for the Python tests. Every function runs through
// the same module boundary as qarvo's own entries.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "boundary.hpp"
#include "debug_render.hpp"
#include "deferred.hpp"
#include "fault.hpp"
#include "module.hpp"
#include "panic.hpp"
#include "pending_error.hpp"
#include "qarvo/backend.hpp"
#include "result.hpp"
#include "text.hpp"

namespace qarvo::py {
namespace {

using HookBody = Result<OwnedRef> (*)(PyObject* const* args);

template <HookBody Body, Py_ssize_t Arity>
PyObject* hook_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return run_boundary([=]() -> Result<OwnedRef> {
        if (nargs != Arity) {
            return PendingError::lazy(
                exception_type::type_error,
                "expected " + std::to_string(Arity) + " arguments, got " + std::to_string(nargs));
        }
        return Body(args);
    });
}

OwnedRef none() {
    return OwnedRef::borrow(Py_None);
}

OwnedRef new_int(long long value) {
    OwnedRef result = OwnedRef::steal(PyLong_FromLongLong(value));
    if (!result) {
        api_call_failed();
    }
    return result;
}

OwnedRef new_str(const std::string& text) {
    OwnedRef result = OwnedRef::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!result) {
        api_call_failed();
    }
    return result;
}

Result<std::string> text_argument(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        return conversion_failure(object, "PyString");
    }
    return utf8_lossy(object);
}

Result<OwnedRef> fault_with_text(PyObject* const* args) {
    Result<std::string> text = text_argument(args[0]);
    if (!text) {
        return std::move(text).error();
    }
    raise_fault(std::move(text).value());
}

Result<OwnedRef> fault_with_fixed_text(PyObject* const*) {
    raise_fault("fixed fault text");
}

Result<OwnedRef> fault_with_value(PyObject* const*) {
    raise_fault(OpaquePayload{42});
}

// A C++ exception that is not an internal fault: the boundary must end the
// process rather than let it unwind into the interpreter.
Result<OwnedRef> throw_foreign_exception(PyObject* const*) {
    throw std::runtime_error("not an internal fault");
}

// An internal allocation of the given size, as the bindings' own records
// make: its failure is not the caller's doing and ends the process.
Result<OwnedRef> allocate_internally(PyObject* const* args) {
    const unsigned long long size = PyLong_AsUnsignedLongLong(args[0]);
    if (size == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return fetch_error();
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    return new_int(static_cast<long long>(bytes.capacity()));
}

Result<OwnedRef> get_panic_exception_type(PyObject* const*) {
    return OwnedRef::borrow(panic_exception_type());
}

Result<OwnedRef> call_and_take(PyObject* const* args) {
    OwnedRef result = OwnedRef::steal(PyObject_CallNoArgs(args[0]));
    if (!result) {
        return fetch_error();
    }
    return result;
}

Result<OwnedRef> fetch_error_unset(PyObject* const*) {
    PyErr_Clear();
    return fetch_error();
}

Result<OwnedRef> render(PyObject* const* args) {
    PendingError error = PendingError::normalized(OwnedRef::borrow(args[0]));
    return new_str(debug_render(error));
}

Result<OwnedRef> raise_conversion_failure(PyObject* const* args) {
    Result<std::string> target = text_argument(args[1]);
    if (!target) {
        return std::move(target).error();
    }
    return conversion_failure(args[0], target.value().c_str());
}

Result<LazyError> lazy_from(PyObject* const* args) {
    Result<std::string> message = text_argument(args[1]);
    if (!message) {
        return std::move(message).error();
    }
    return LazyError{OwnedRef::borrow(args[0]), std::move(message).value(), false};
}

Result<OwnedRef> lazy_error(PyObject* const* args) {
    Result<LazyError> lazy = lazy_from(args);
    if (!lazy) {
        return std::move(lazy).error();
    }
    return PendingError::lazy(std::move(lazy).value());
}

Result<OwnedRef> normalize_lazy(PyObject* const* args) {
    Result<LazyError> lazy = lazy_from(args);
    if (!lazy) {
        return std::move(lazy).error();
    }
    PendingError error = PendingError::lazy(std::move(lazy).value());
    return OwnedRef::borrow(normalize_error(error));
}

Result<OwnedRef> release_from_foreign_thread(PyObject* const* args) {
    OwnedRef reference = OwnedRef::borrow(args[0]);
    // The native thread does not hold the interpreter lock (its lock_depth
    // is 0), so its release must be deferred rather than done at once.
    std::thread foreign([reference = std::move(reference)]() mutable { reference.reset(); });
    foreign.join();
    return new_int(static_cast<long long>(deferred_release_count()));
}

Result<OwnedRef> deferred_count(PyObject* const*) {
    return new_int(static_cast<long long>(deferred_release_count()));
}

Result<OwnedRef> get_lock_depth(PyObject* const*) {
    return new_int(lock_depth);
}

Result<OwnedRef> hook_add_member(PyObject* const* args) {
    if (Status added = add_member(args[0], args[1], args[2]); !added) {
        return std::move(added).error();
    }
    return none();
}

Result<OwnedRef> hook_populate_module(PyObject* const* args) {
    if (Status populated = populate_module(args[0]); !populated) {
        return std::move(populated).error();
    }
    return none();
}

Result<OwnedRef> active_backend(PyObject* const*) {
    return new_str(std::string(backend_name(active_routines().backend)));
}

Result<OwnedRef> supported_backends(PyObject* const*) {
    OwnedRef names = OwnedRef::steal(PyList_New(0));
    if (!names) {
        api_call_failed();
    }
    for (Backend backend : qarvo::supported_backends()) {
        OwnedRef name = new_str(std::string(backend_name(backend)));
        if (PyList_Append(names.get(), name.get()) != 0) {
            return fetch_error();
        }
    }
    return names;
}

template <HookBody Body, Py_ssize_t Arity>
constexpr PyCFunction entry() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&hook_entry<Body, Arity>));
}

PyMethodDef hook_records[] = {
    {"fault_with_text", entry<fault_with_text, 1>(), METH_FASTCALL, nullptr},
    {"fault_with_fixed_text", entry<fault_with_fixed_text, 0>(), METH_FASTCALL, nullptr},
    {"fault_with_value", entry<fault_with_value, 0>(), METH_FASTCALL, nullptr},
    {"throw_foreign_exception", entry<throw_foreign_exception, 0>(), METH_FASTCALL, nullptr},
    {"allocate_internally", entry<allocate_internally, 1>(), METH_FASTCALL, nullptr},
    {"panic_exception_type", entry<get_panic_exception_type, 0>(), METH_FASTCALL, nullptr},
    {"call_and_take", entry<call_and_take, 1>(), METH_FASTCALL, nullptr},
    {"fetch_error_unset", entry<fetch_error_unset, 0>(), METH_FASTCALL, nullptr},
    {"debug_render", entry<render, 1>(), METH_FASTCALL, nullptr},
    {"conversion_failure", entry<raise_conversion_failure, 2>(), METH_FASTCALL, nullptr},
    {"lazy_error", entry<lazy_error, 2>(), METH_FASTCALL, nullptr},
    {"normalize_lazy", entry<normalize_lazy, 2>(), METH_FASTCALL, nullptr},
    {"release_from_foreign_thread", entry<release_from_foreign_thread, 1>(), METH_FASTCALL,
     nullptr},
    {"deferred_count", entry<deferred_count, 0>(), METH_FASTCALL, nullptr},
    {"lock_depth", entry<get_lock_depth, 0>(), METH_FASTCALL, nullptr},
    {"add_member", entry<hook_add_member, 3>(), METH_FASTCALL, nullptr},
    {"populate_module", entry<hook_populate_module, 1>(), METH_FASTCALL, nullptr},
    {"active_backend", entry<active_backend, 0>(), METH_FASTCALL, nullptr},
    {"supported_backends", entry<supported_backends, 0>(), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef hooks_definition = {
    PyModuleDef_HEAD_INIT,
    "_qarvo_testhooks",
    "Test-only entries into qarvo's bindings.",
    -1,
    hook_records,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace qarvo::py

PyMODINIT_FUNC PyInit__qarvo_testhooks() {
    return qarvo::py::run_boundary([]() -> qarvo::py::Result<qarvo::py::OwnedRef> {
        qarvo::py::OwnedRef module =
            qarvo::py::OwnedRef::steal(PyModule_Create(&qarvo::py::hooks_definition));
        if (!module) {
            return qarvo::py::fetch_error();
        }
        return module;
    });
}
