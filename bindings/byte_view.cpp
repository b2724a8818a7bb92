#include "byte_view.hpp"
//
// The checks every call makes live inline in byte_view.hpp; this file holds
// the rare paths.

#include <cassert>

#include "messages.hpp"

namespace qarvo::py {

bool ByteView::is_other_byte_format(const char* format) noexcept {
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

PendingError ByteView::refuse_layout() {
    assert(hold_ == Hold::buffer);
    const char* problem = buffer_.shape == nullptr     ? messages::kShapeNull
                          : buffer_.strides == nullptr ? messages::kStridesNull
                                                       : messages::kNotBytes;
    release();
    return PendingError::lazy(exception_type::buffer_error, problem);
}

void ByteView::release_without_lock() noexcept {
    const PyGILState_STATE state = PyGILState_Ensure();
    PyBuffer_Release(&buffer_);
    PyGILState_Release(state);
}

}  // namespace qarvo::py
