// What the module's classes share: a heap type made from its PyType_Spec on
// first use, an object that holds one C++ value, a fast-call method's table entry,
// and the pickling of an object made from one argument and the keyword-only
// ignore_case flag.
#pragma once

#include <atomic>
#include <new>

#include "py.hpp"
#include "result.hpp"

namespace qarvo::py {

// A heap type made from `description` by the first caller and kept for the life of
// the process; when callers race, every one gets the type the first to
// finish stored, and the others' copies are released.
class LazyType {
public:
    explicit constexpr LazyType(PyType_Spec& description) noexcept : description_(description) {}
    LazyType(const LazyType&) = delete;
    LazyType& operator=(const LazyType&) = delete;

    // A borrowed reference.
    Result<PyTypeObject*> get();

private:
    PyType_Spec& description_;
    std::atomic<PyObject*> made_{nullptr};
};

// A Python object that holds one C++ value: emplace() makes it in place right
// after tp_alloc, and dealloc, the type's Py_tp_dealloc, destroys it.
template <typename State>
struct StateObject {
    PyObject_HEAD State state;

    static State& of(PyObject* self) noexcept {
        return reinterpret_cast<StateObject*>(self)->state;
    }
    static State& emplace(PyObject* self) { return *new (&of(self)) State(); }
    static void dealloc(PyObject* self) noexcept {
        PyTypeObject* type = Py_TYPE(self);
        {
            LockDepthScope depth;  // a dealloc runs with the interpreter lock held
            of(self).~State();
        }
        type->tp_free(self);
        Py_DECREF(type);
    }
};

using FastcallMethod = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) noexcept;

// A METH_FASTCALL | METH_KEYWORDS entry of a method table.
PyMethodDef fastcall_method(const char* name, FastcallMethod entry, const char* doc) noexcept;

// type(argument), or, when ignoring case, copyreg.__newobj_ex__(type,
// (argument,), {"ignore_case": True}): the flag is keyword-only, and every
// pickle protocol rebuilds that call (protocol 4 and up as one opcode).
Result<OwnedRef> reduce_with_ignore_case(PyObject* self, PyObject* argument, bool ignore_case);

}  // namespace qarvo::py
