#include "search_args.hpp"

#include <string>

#include "messages.hpp"

namespace qarvo::py {
namespace {

PendingError not_a_needle(PyObject* needle) {
    return PendingError::lazy(exception_type::type_error,
                              std::string(messages::kNotANeedle) + Py_TYPE(needle)->tp_name + "'");
}

// A slice index as bytes.find reads it: None is `absent`, an integer is
// clipped to the ssize_t range.
Result<Py_ssize_t> slice_index(PyObject* object, Py_ssize_t absent) {
    if (object == nullptr || object == Py_None) {
        return absent;
    }
    if (!PyIndex_Check(object)) {
        return PendingError::lazy(exception_type::type_error, messages::kBadSliceIndex);
    }
    const Py_ssize_t value = PyNumber_AsSsize_t(object, nullptr);
    if (value == -1 && PyErr_Occurred()) {
        return fetch_error();
    }
    return value;
}

}  // namespace

Status SearchNeedle::extract_any(PyObject* needle) {
    // bytes.find's order: a buffer, then an integer; then what only
    // search_n takes, a sequence of integers.
    if (PyObject_CheckBuffer(needle)) {
        return bytes_.extract(needle);
    }
    if (PyIndex_Check(needle)) {
        const Py_ssize_t value = PyNumber_AsSsize_t(needle, nullptr);
        if (value == -1 && PyErr_Occurred()) {
            return fetch_error();
        }
        if (value < 0 || value > 255) {
            return PendingError::lazy(exception_type::value_error, messages::kByteOutOfRange);
        }
        byte_ = static_cast<std::uint8_t>(value);
        is_byte_ = true;
        return success();
    }
    if (PyUnicode_Check(needle) || PySequence_Check(needle) == 0) {
        return not_a_needle(needle);
    }
    return bytes_.extract(needle);
}

Result<std::vector<std::uint8_t>> copy_needle(PyObject* needle) {
    SearchNeedle extracted;
    if (Status status = extracted.extract(needle); !status) {
        return std::move(status).error();
    }
    const ByteRange bytes = extracted.bytes();
    std::vector<std::uint8_t> copy(bytes.data, bytes.data + bytes.size);
    extracted.release();
    return copy;
}

Result<Window> window_of(PyObject* start, PyObject* end, std::size_t size) {
    Result<Py_ssize_t> first = slice_index(start, 0);
    if (!first) {
        return std::move(first).error();
    }
    Result<Py_ssize_t> last = slice_index(end, PY_SSIZE_T_MAX);
    if (!last) {
        return std::move(last).error();
    }
    return adjusted_window(first.value(), last.value(), static_cast<Py_ssize_t>(size));
}

}  // namespace qarvo::py
