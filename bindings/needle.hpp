// Needles: one byte from an integer, two or three from a sequence of
// integers, any number from a buffer or a sequence (search_n), and the
// prefix a needle's TypeError gets.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "byte_view.hpp"
#include "result.hpp"

namespace qarvo::py {

// extract_byte for whatever compat::small_byte does not answer: rare, so
// cold, which keeps it out of the entries' straight-line code.
[[gnu::cold]] Result<std::uint8_t> extract_any_byte(PyObject* object);

// The integer as one byte: signed 32-bit conversion, then the 0..255 check.
[[gnu::always_inline]] inline Result<std::uint8_t> extract_byte(PyObject* object) {
    if (const int value = compat::small_byte(object); value >= 0) [[likely]] {
        return static_cast<std::uint8_t>(value);
    }
    return extract_any_byte(object);
}

// A TypeError (exactly) becomes "argument 'needle': " + its message, keeping
// its cause; any other error passes unchanged. An error path: cold.
[[gnu::cold]] PendingError wrap_needle_error(PendingError error);

// extract_fixed_needle for whatever is not an exact `bytes` of N bytes.
template <std::size_t N>
Result<std::array<std::uint8_t, N>> extract_any_fixed_needle(PyObject* needle);

// Exactly N integers 0..255 from a sequence, element 0 first. Errors are
// returned unwrapped; the caller adds the "argument 'needle': " prefix.
template <std::size_t N>
[[gnu::always_inline]] inline Result<std::array<std::uint8_t, N>> extract_fixed_needle(
    PyObject* needle) {
    // An exact `bytes` runs no Python code when indexed: its bytes are the
    // elements.
    if (PyBytes_CheckExact(needle) && PyBytes_GET_SIZE(needle) == static_cast<Py_ssize_t>(N))
        [[likely]] {
        std::array<std::uint8_t, N> bytes;
        std::memcpy(bytes.data(), PyBytes_AS_STRING(needle), N);
        return bytes;
    }
    return extract_any_fixed_needle<N>(needle);
}

// The needle of search_n: the bytes of a one-byte-item buffer, read in
// place, or bytes collected from a sequence of integers.
class NeedleBytes {
public:
    NeedleBytes() = default;
    NeedleBytes(const NeedleBytes&) = delete;
    NeedleBytes& operator=(const NeedleBytes&) = delete;

    // Fills this needle from `needle`. Precondition: it holds nothing yet.
    [[gnu::always_inline]] Status extract(PyObject* needle) {
        // An exact `bytes` is read in place (see ByteView).
        if (PyBytes_CheckExact(needle)) [[likely]] {
            return view_.acquire(needle);
        }
        return extract_any(needle);
    }

    ByteRange bytes() const noexcept {
        if (view_.held()) {
            return view_.bytes();
        }
        return ByteRange{collected_.data(), collected_.size()};
    }

    // Releases the view or frees the collected bytes.
    void release() noexcept {
        view_.release();
        if (collected_.capacity() != 0) {
            collected_ = {};
        }
    }

private:
    Status extract_any(PyObject* needle);
    Status collect_sequence(PyObject* needle);
    Status fill_from_sequence(PyObject* needle);

    ByteView view_;
    std::vector<std::uint8_t> collected_;
};

}  // namespace qarvo::py
