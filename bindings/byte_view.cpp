#include "byte_view.hpp"

#include <cassert>

namespace qarvo::py {
namespace {

// One-byte item formats: none (meaning "B"), "B" or "c", optionally after a
// byte-order character, which cannot change a one-byte item.
bool is_byte_format(const char* format) noexcept {
    if (format == nullptr) {
        return true;
    }
    switch (format[0]) {
        case '@':
        case '=':
        case '<':
        case '>':
        case '!':
            ++format;
            break;
        default:
            break;
    }
    return (format[0] == 'B' || format[0] == 'c') && format[1] == '\0';
}

}  // namespace

Status ByteView::acquire(PyObject* exporter) {
    assert(!held());
    if (PyBytes_CheckExact(exporter)) {
        buffer_.buf = PyBytes_AS_STRING(exporter);
        buffer_.len = PyBytes_GET_SIZE(exporter);
        hold_ = Hold::immutable_bytes;
        return success();
    }
    if (PyObject_GetBuffer(exporter, &buffer_, PyBUF_FULL_RO) != 0) {
        return fetch_error();
    }
    hold_ = Hold::buffer;
    const char* problem = nullptr;
    if (buffer_.shape == nullptr) {
        problem = "shape is null";
    } else if (buffer_.strides == nullptr) {
        problem = "strides is null";
    } else if (buffer_.itemsize != 1 || !is_byte_format(buffer_.format)) {
        problem = "buffer contents are not compatible with u8";
    }
    if (problem != nullptr) {
        release();
        return PendingError::lazy(exception_type::buffer_error, problem);
    }
    return success();
}

bool ByteView::is_contiguous() const noexcept {
    assert(held());
    return hold_ == Hold::immutable_bytes ||
           (PyBuffer_IsContiguous(&buffer_, 'C') != 0 && buffer_.buf != nullptr);
}

ByteRange ByteView::bytes() const noexcept {
    assert(held());
    return ByteRange{static_cast<const std::uint8_t*>(buffer_.buf),
                     static_cast<std::size_t>(buffer_.len)};
}

void ByteView::release() noexcept {
    if (std::exchange(hold_, Hold::nothing) != Hold::buffer) {
        return;
    }
    if (lock_depth > 0) {
        PyBuffer_Release(&buffer_);
        return;
    }
    const PyGILState_STATE state = PyGILState_Ensure();
    PyBuffer_Release(&buffer_);
    PyGILState_Release(state);
}

}  // namespace qarvo::py
