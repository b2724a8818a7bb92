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

// The value of an exact int in 0..255, or -1 for any other object (then the
// caller converts it in full). Reads the int's digits in place: no call, no
// Python code, so the caller sees what the full conversion would give.
inline int small_byte(PyObject* object) noexcept {
    if (!PyLong_CheckExact(object)) {
        return -1;
    }
    auto* number = reinterpret_cast<PyLongObject*>(object);
#if PY_VERSION_HEX >= 0x030C0000
    if (!PyUnstable_Long_IsCompact(number)) {
        return -1;
    }
    const Py_ssize_t value = PyUnstable_Long_CompactValue(number);
#else
    // 3.11: the size is the signed digit count; 0 is the int zero.
    const Py_ssize_t size = Py_SIZE(object);
    if (size != 0 && size != 1) {
        return -1;
    }
    const Py_ssize_t value = size == 0 ? 0 : static_cast<Py_ssize_t>(number->ob_digit[0]);
#endif
    return value >= 0 && value <= 255 ? static_cast<int>(value) : -1;
}

}  // namespace qarvo::compat
