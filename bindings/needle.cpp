#include "needle.hpp"

#include <string>

#include "call.hpp"

namespace qarvo::py {
namespace {

PyObject* type_error_type() {
    return PyExc_TypeError;
}
PyObject* value_error_type() {
    return PyExc_ValueError;
}
PyObject* buffer_error_type() {
    return PyExc_BufferError;
}

// A sequence's reported length only sizes the first reservation; a __len__
// that claims billions of items must not turn into a huge allocation before
// a single item was read.
constexpr Py_ssize_t kMaxInitialReservation = Py_ssize_t{1} << 20;

}  // namespace

template <std::size_t N>
Result<std::array<std::uint8_t, N>> extract_fixed_needle(PyObject* needle) {
    if (PySequence_Check(needle) == 0) {
        return conversion_failure(needle, "Sequence");
    }
    const Py_ssize_t length = PyObject_Size(needle);
    if (length == -1) {
        return fetch_error();
    }
    if (length != static_cast<Py_ssize_t>(N)) {
        return PendingError::lazy(value_error_type, "expected a sequence of length " +
                                                        std::to_string(N) + " (got " +
                                                        std::to_string(length) + ")");
    }
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N; ++i) {
        OwnedRef index = OwnedRef::steal(PyLong_FromUnsignedLongLong(i));
        if (!index) {
            api_call_failed();
        }
        OwnedRef item = OwnedRef::steal(PyObject_GetItem(needle, index.get()));
        index.reset();
        if (!item) {
            return fetch_error();
        }
        Result<std::uint8_t> byte = extract_byte(item.get());
        if (!byte) {
            return std::move(byte).error();
        }
        bytes[i] = byte.value();
    }
    return bytes;
}

template Result<std::array<std::uint8_t, 2>> extract_fixed_needle<2>(PyObject*);
template Result<std::array<std::uint8_t, 3>> extract_fixed_needle<3>(PyObject*);

Status NeedleBytes::extract(PyObject* needle) {
    if (view_.acquire(needle)) {
        if (!view_.is_contiguous()) {
            view_.release();
            return PendingError::lazy(buffer_error_type, "needle buffer must be contiguous");
        }
        return success();
    }
    // No usable buffer, whatever the reason: read the needle as a sequence.
    // (The failed request's error was dropped with its Result.)
    return collect_sequence(needle);
}

Status NeedleBytes::collect_sequence(PyObject* needle) {
    if (PyUnicode_Check(needle)) {
        return PendingError::lazy(type_error_type, "Can't extract `str` to `Vec`");
    }
    if (PySequence_Check(needle) == 0) {
        return conversion_failure(needle, "Sequence");
    }
    const Py_ssize_t length = PySequence_Size(needle);
    if (length == -1) {
        static_cast<void>(take_error());  // the length only sizes the reservation
    } else {
        collected_.reserve(static_cast<std::size_t>(std::min(length, kMaxInitialReservation)));
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

ByteRange NeedleBytes::bytes() const noexcept {
    if (view_.held()) {
        return view_.bytes();
    }
    return ByteRange{collected_.data(), collected_.size()};
}

void NeedleBytes::release() noexcept {
    view_.release();
    collected_ = {};
}

}  // namespace qarvo::py
