// A buffer view of one-byte items on a Python object.
#pragma once

#include "failure.hpp"
#include "qarvo/search.hpp"

namespace qarvo::py {

// A buffer view of one-byte items, held from acquire() until release() or
// destruction, whichever comes first: released exactly once. It cannot move,
// because an exporter may point `shape` and `strides` into the Py_buffer
// record itself.
//
// An exact `bytes` object is read in place without a buffer request: it is
// immutable, always one C-contiguous run of unsigned bytes, and the caller's
// reference keeps it alive for the call, so the request would only cost time.
class ByteView {
public:
    ByteView() noexcept = default;
    ~ByteView() { release(); }
    ByteView(const ByteView&) = delete;
    ByteView& operator=(const ByteView&) = delete;

    // Requests the buffer (flags PyBUF_FULL_RO) and checks that it has shape,
    // strides and one-byte items of an accepted format. Precondition: this
    // view holds nothing.
    Status acquire(PyObject* exporter);

    // True for a C-contiguous buffer with a data pointer. Precondition: held.
    bool is_contiguous() const noexcept;

    // Precondition: held.
    ByteRange bytes() const noexcept;

    bool held() const noexcept { return hold_ != Hold::nothing; }
    void release() noexcept;

private:
    enum class Hold { nothing, buffer, immutable_bytes };
    // Filled by acquire() and read only while held, so it is left
    // uninitialised: zeroing its 80 bytes cost more than the rest of a short
    // call's conversions together.
    Py_buffer buffer_;
    Hold hold_ = Hold::nothing;
};

}  // namespace qarvo::py
