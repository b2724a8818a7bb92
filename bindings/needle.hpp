// Needles given as sequences of integers (or, for search_n, as buffers).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "byte_view.hpp"
#include "failure.hpp"

namespace qarvo::py {

// Exactly N integers 0..255 from a sequence, element 0 first. Errors are
// returned unwrapped; the caller adds the "argument 'needle': " prefix.
template <std::size_t N>
Result<std::array<std::uint8_t, N>> extract_fixed_needle(PyObject* needle);

// The needle of search_n: the bytes of a one-byte-item buffer, read in
// place, or bytes collected from a sequence of integers.
class NeedleBytes {
public:
    NeedleBytes() = default;
    NeedleBytes(const NeedleBytes&) = delete;
    NeedleBytes& operator=(const NeedleBytes&) = delete;

    // Fills this needle from `needle`. Precondition: it holds nothing yet.
    Status extract(PyObject* needle);

    ByteRange bytes() const noexcept;

    // Releases the view or frees the collected bytes.
    void release() noexcept;

private:
    Status collect_sequence(PyObject* needle);
    Status fill_from_sequence(PyObject* needle);

    ByteView view_;
    std::vector<std::uint8_t> collected_;
};

}  // namespace qarvo::py
