#include "type_objects.hpp"

#include "pending_error.hpp"

namespace qarvo::py {

Result<PyTypeObject*> LazyType::get() {
    if (PyObject* made = made_.load(std::memory_order_acquire)) [[likely]] {
        return reinterpret_cast<PyTypeObject*>(made);
    }
    OwnedRef type = OwnedRef::steal(PyType_FromSpec(&description_));
    if (!type) {
        return fetch_error();
    }
    PyObject* expected = nullptr;
    if (made_.compare_exchange_strong(expected, type.get(), std::memory_order_acq_rel)) {
        static_cast<void>(type.release());
    }
    return reinterpret_cast<PyTypeObject*>(made_.load(std::memory_order_acquire));
}

PyMethodDef fastcall_method(const char* name, FastcallMethod entry, const char* doc) noexcept {
    // PyMethodDef holds every kind of method as a PyCFunction; METH_FASTCALL
    // tells the interpreter which signature to call it with.
    return {.ml_name = name,
            .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),
            .ml_flags = METH_FASTCALL | METH_KEYWORDS,
            .ml_doc = doc};
}

Result<OwnedRef> reduce_with_ignore_case(PyObject* self, PyObject* argument, bool ignore_case) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if (!ignore_case) {
        OwnedRef reduced = OwnedRef::steal(Py_BuildValue("O(O)", type, argument));
        if (!reduced) {
            return fetch_error();
        }
        return reduced;
    }
    OwnedRef copyreg = OwnedRef::steal(PyImport_ImportModule("copyreg"));
    if (!copyreg) {
        return fetch_error();
    }
    OwnedRef rebuild = OwnedRef::steal(PyObject_GetAttrString(copyreg.get(), "__newobj_ex__"));
    if (!rebuild) {
        return fetch_error();
    }
    OwnedRef reduced = OwnedRef::steal(
        Py_BuildValue("O(O(O){sO})", rebuild.get(), type, argument, "ignore_case", Py_True));
    if (!reduced) {
        return fetch_error();
    }
    return reduced;
}

}  // namespace qarvo::py
