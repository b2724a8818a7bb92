#include "needle.hpp"

#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "fault.hpp"
#include "messages.hpp"
#include "text.hpp"

namespace qarvo::py {
namespace {

PendingError wrong_length(std::size_t expected, Py_ssize_t length) {
    return PendingError::lazy(exception_type::value_error,
                              messages::kWrongLength[0] + std::to_string(expected) +
                                  messages::kWrongLength[1] + std::to_string(length) +
                                  messages::kWrongLength[2]);
}

// Exact bytes and bytearray run no Python code when indexed, so reading their
// bytes directly gives what element-by-element indexing would.
bool copy_exact_byte_string(PyObject* object, std::uint8_t* out, std::size_t expected,
                            std::optional<PendingError>& error) {
    const char* data = nullptr;
    Py_ssize_t length = 0;
    if (PyBytes_CheckExact(object)) {
        data = PyBytes_AS_STRING(object);
        length = PyBytes_GET_SIZE(object);
    } else if (PyByteArray_CheckExact(object)) {
        data = PyByteArray_AS_STRING(object);
        length = PyByteArray_GET_SIZE(object);
    } else {
        return false;
    }
    if (length != static_cast<Py_ssize_t>(expected)) {
        error = wrong_length(expected, length);
    } else if (expected > 0) {
        std::memcpy(out, data, expected);
    }
    return true;
}

// needle[i] as PyObject_GetItem gives it. Exact tuples and lists return
// their item without building an index object; a list shrunk by an
// element's __index__ takes the general path, which raises IndexError.
Result<OwnedRef> element_at(PyObject* sequence, std::size_t i) {
    const auto index = static_cast<Py_ssize_t>(i);
    if (PyTuple_CheckExact(sequence) && index < PyTuple_GET_SIZE(sequence)) {
        return OwnedRef::borrow(PyTuple_GET_ITEM(sequence, index));
    }
    if (PyList_CheckExact(sequence) && index < PyList_GET_SIZE(sequence)) {
        return OwnedRef::borrow(PyList_GET_ITEM(sequence, index));
    }
    OwnedRef index_object = OwnedRef::steal(PyLong_FromUnsignedLongLong(i));
    if (!index_object) {
        api_call_failed();
    }
    OwnedRef item = OwnedRef::steal(PyObject_GetItem(sequence, index_object.get()));
    if (!item) {
        return fetch_error();
    }
    return item;
}

}  // namespace

Result<std::uint8_t> extract_any_byte(PyObject* object) {
    const int value = compat::long_as_int(object);
    if (value == -1 && PyErr_Occurred()) {
        return fetch_error();
    }
    if (value < 0 || value > 255) {
        return PendingError::lazy(exception_type::overflow_error, messages::kOutOfRange);
    }
    return static_cast<std::uint8_t>(value);
}

PendingError wrap_needle_error(PendingError error) {
    PyObject* original = normalize_error(error);
    if (reinterpret_cast<PyObject*>(Py_TYPE(original)) != PyExc_TypeError) {
        return error;
    }
    PendingError wrapped = PendingError::lazy(exception_type::type_error,
                                              messages::kNeedlePrefix + display_text(original));
    PyObject* replacement = normalize_error(wrapped);
    // Steals the cause (NULL allowed) and marks the context as suppressed.
    PyException_SetCause(replacement, PyException_GetCause(original));
    return wrapped;
}

template <std::size_t N>
Result<std::array<std::uint8_t, N>> extract_any_fixed_needle(PyObject* needle) {
    std::array<std::uint8_t, N> bytes{};
    std::optional<PendingError> error;
    if (copy_exact_byte_string(needle, bytes.data(), N, error)) {
        if (error) {
            return std::move(*error);
        }
        return bytes;
    }
    if (PySequence_Check(needle) == 0) {
        return conversion_failure(needle, messages::kSequence);
    }
    const Py_ssize_t length = PyObject_Size(needle);
    if (length == -1) {
        return fetch_error();
    }
    if (length != static_cast<Py_ssize_t>(N)) {
        return wrong_length(N, length);
    }
    for (std::size_t i = 0; i < N; ++i) {
        Result<OwnedRef> element = element_at(needle, i);
        if (!element) {
            return std::move(element).error();
        }
        OwnedRef item = std::move(element).value();
        Result<std::uint8_t> byte = extract_byte(item.get());
        if (!byte) {
            return std::move(byte).error();
        }
        bytes[i] = byte.value();
    }
    return bytes;
}

template Result<std::array<std::uint8_t, 2>> extract_any_fixed_needle<2>(PyObject*);
template Result<std::array<std::uint8_t, 3>> extract_any_fixed_needle<3>(PyObject*);

Status NeedleBytes::extract_any(PyObject* needle) {
    // An object without buffer support would only fail the request with an
    // error that is dropped anyway; skip building that error.
    if (PyObject_CheckBuffer(needle) && view_.acquire(needle)) {
        if (!view_.is_contiguous()) {
            view_.release();
            return PendingError::lazy(exception_type::buffer_error, messages::kNeedleNotContiguous);
        }
        return success();
    }
    // No usable buffer, whatever the reason: read the needle as a sequence.
    // (The failed request's error was dropped with its Result.)
    return collect_sequence(needle);
}

Status NeedleBytes::collect_sequence(PyObject* needle) {
    if (PyUnicode_Check(needle)) {
        return PendingError::lazy(exception_type::type_error, messages::kStrNeedle);
    }
    if (PySequence_Check(needle) == 0) {
        return conversion_failure(needle, messages::kSequence);
    }
    // The vector is sized by the caller's object: its __len__ sets the first
    // reservation (as bytes(sequence) does) and its iterator decides how far
    // the vector grows. Running out of memory here is the caller's doing, so
    // it raises MemoryError instead of ending the process.
    try {
        return fill_from_sequence(needle);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {  // reserve() beyond max_size()
    }
    collected_ = {};
    static_cast<void>(PyErr_NoMemory());
    return fetch_error();
}

Status NeedleBytes::fill_from_sequence(PyObject* needle) {
    const Py_ssize_t length = PySequence_Size(needle);
    if (length == -1) {
        static_cast<void>(take_error());  // the length only sizes the reservation
    } else {
        collected_.reserve(static_cast<std::size_t>(length));
    }
    OwnedRef iterator = OwnedRef::steal(PyObject_GetIter(needle));
    if (!iterator) {
        return fetch_error();
    }
    while (OwnedRef item = OwnedRef::steal(PyIter_Next(iterator.get()))) {
        Result<std::uint8_t> byte = extract_byte(item.get());
        if (!byte) {
            collected_ = {};
            return std::move(byte).error();
        }
        collected_.push_back(byte.value());
    }
    if (PyErr_Occurred()) {
        collected_ = {};
        return fetch_error();
    }
    return success();
}

}  // namespace qarvo::py
