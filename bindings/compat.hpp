// Maps the few C API functions that CPython 3.11 and 3.12 lack onto what
// they do offer, with identical behaviour and messages on every version.
// Everything else in the bindings is written against the 3.14 C API.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace qarvo::compat {

// The interpreter's current exception as one object (a new reference), with
// the indicator cleared; NULL when none is set.
inline PyObject* get_raised_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return nullptr;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

// Raises `exception` (a reference that is stolen) as the current exception.
inline void set_raised_exception(PyObject* exception) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    if (exception == nullptr) {
        PyErr_Restore(nullptr, nullptr, nullptr);
        return;
    }
    PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception)));
    PyErr_Restore(type, exception, PyException_GetTraceback(exception));
#endif
}

// Signed 32-bit conversion through __index__; -1 with an exception set on
// failure ("Python int too large to convert to C int" when out of range).
inline int long_as_int(PyObject* object) noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    return PyLong_AsInt(object);
#else
    return _PyLong_AsInt(object);
#endif
}

}  // namespace qarvo::compat
