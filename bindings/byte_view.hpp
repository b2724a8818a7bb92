// A buffer view of one-byte items on a Python object.
#pragma once

#include <utility>

#include "qarvo/search.hpp"
#include "result.hpp"

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
    [[gnu::always_inline]] Status acquire(PyObject* exporter) {
        if (PyBytes_CheckExact(exporter)) {
            buffer_.buf = PyBytes_AS_STRING(exporter);
            buffer_.len = PyBytes_GET_SIZE(exporter);
            hold_ = Hold::immutable_bytes;
            return success();
        }
        if (PyObject_GetBuffer(exporter, &buffer_, PyBUF_FULL_RO) != 0) [[unlikely]] {
            return fetch_error();
        }
        hold_ = Hold::buffer;
        if (!has_byte_layout(buffer_)) [[unlikely]] {
            return refuse_layout();
        }
        return success();
    }

    // The layout acquire() accepts: shape and strides given, one-byte items
    // of an accepted format.
    [[gnu::always_inline]] static bool has_byte_layout(const Py_buffer& buffer) noexcept {
        return buffer.shape != nullptr && buffer.strides != nullptr && buffer.itemsize == 1 &&
               is_byte_format(buffer.format);
    }

    // What is_contiguous() asks of a requested buffer: C-contiguous, with a
    // data pointer. Precondition: has_byte_layout(buffer).
    [[gnu::always_inline]] static bool is_contiguous_run(const Py_buffer& buffer) noexcept {
        // One dimension of one-byte items with no gaps is answered here;
        // anything else asks the interpreter. Every buffer this accepts,
        // PyBuffer_IsContiguous accepts too.
        if (buffer.ndim == 1 && buffer.suboffsets == nullptr &&
            (buffer.shape[0] <= 1 || buffer.strides[0] == 1)) [[likely]] {
            return buffer.buf != nullptr;
        }
        return buffer.buf != nullptr && PyBuffer_IsContiguous(&buffer, 'C') != 0;
    }

    // True for a C-contiguous buffer with a data pointer. Precondition: held.
    [[gnu::always_inline]] bool is_contiguous() const noexcept {
        return hold_ == Hold::immutable_bytes || is_contiguous_run(buffer_);
    }

    // Precondition: held.
    ByteRange bytes() const noexcept {
        return ByteRange{static_cast<const std::uint8_t*>(buffer_.buf),
                         static_cast<std::size_t>(buffer_.len)};
    }

    bool held() const noexcept { return hold_ != Hold::nothing; }
    [[gnu::always_inline]] void release() noexcept {
        if (std::exchange(hold_, Hold::nothing) != Hold::buffer) {
            return;
        }
        if (lock_depth > 0) [[likely]] {
            PyBuffer_Release(&buffer_);
            return;
        }
        release_without_lock();
    }

private:
    enum class Hold { nothing, buffer, immutable_bytes };

    // One-byte item formats: none (meaning "B"), "B" or "c", optionally
    // after a byte-order character, which cannot change a one-byte item.
    [[gnu::always_inline]] static bool is_byte_format(const char* format) noexcept {
        if (format == nullptr || (format[0] == 'B' && format[1] == '\0')) [[likely]] {
            return true;
        }
        return is_other_byte_format(format);
    }
    static bool is_other_byte_format(const char* format) noexcept;

    // The rare paths, out of line: a buffer whose layout acquire() refuses
    // (released again, with the error naming the first problem), and a
    // release by a thread that does not hold the interpreter lock.
    PendingError refuse_layout();
    void release_without_lock() noexcept;

    // Filled by acquire() and read only while held, so it is left
    // uninitialised: zeroing its 80 bytes cost more than the rest of a short
    // call's conversions together.
    Py_buffer buffer_;
    Hold hold_ = Hold::nothing;
};

}  // namespace qarvo::py
