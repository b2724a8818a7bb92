// What the functions beyond the first occurrence (find, rfind, count,
// finditer, find_all and Finder's methods) share: their needle, which may
// also be one byte given as an int; the start and end of bytes.find, with
// its slice rules; and giving the interpreter lock up around a long search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "byte_view.hpp"
#include "lock.hpp"
#include "needle.hpp"
#include "result.hpp"

namespace qarvo::py {

// The needle: an int 0-255 (anything with __index__) as one byte, or what
// search_n accepts. A mistake that bytes.find also refuses raises what it
// raises: an int outside 0-255, a str, an object that is neither a buffer, an
// integer nor a sequence.
class SearchNeedle {
public:
    SearchNeedle() = default;
    SearchNeedle(const SearchNeedle&) = delete;
    SearchNeedle& operator=(const SearchNeedle&) = delete;

    // Precondition: holds nothing yet.
    [[gnu::always_inline]] Status extract(PyObject* needle) {
        if (PyBytes_CheckExact(needle)) [[likely]] {
            return bytes_.extract(needle);
        }
        if (const int byte = compat::small_byte(needle); byte >= 0) {
            byte_ = static_cast<std::uint8_t>(byte);
            is_byte_ = true;
            return success();
        }
        return extract_any(needle);
    }

    ByteRange bytes() const noexcept { return is_byte_ ? ByteRange{&byte_, 1} : bytes_.bytes(); }

    void release() noexcept { bytes_.release(); }

private:
    Status extract_any(PyObject* needle);

    NeedleBytes bytes_;
    std::uint8_t byte_ = 0;
    bool is_byte_ = false;
};

// A needle's bytes copied out of whatever held them, for objects that keep
// the needle beyond one call (Finder, the iterators).
Result<std::vector<std::uint8_t>> copy_needle(PyObject* needle);

// How occurrences match: whether they may overlap (count, finditer,
// find_all), and whether ASCII letters match either case.
struct Matching {
    bool overlapping = false;
    bool ignore_case = false;
};

// start and end as bytes.find takes them: None or an integer (anything with
// __index__, values beyond the ssize_t range clipped), negative values
// counting from the end, then clamped to the haystack. `start` may still
// exceed `end`: then the range holds nothing, not even an empty needle.
struct Window {
    std::size_t start = 0;
    std::size_t end = 0;
    bool empty_range = false;  // start > end after the adjustment

    // The haystack's bytes in the window. Precondition: !empty_range.
    ByteRange of(ByteRange haystack) const noexcept {
        return ByteRange{haystack.data + start, end - start};
    }
};

// `start` and `end` may be nullptr (not given). Conversion errors are
// bytes.find's.
Result<Window> window_of(PyObject* start, PyObject* end, std::size_t size);

// The window of two exact small ints or None without a call, for the plain
// lanes; false when either argument is anything else.
[[gnu::always_inline]] inline bool plain_bound(PyObject* object, Py_ssize_t& value) noexcept {
    if (object == nullptr || object == Py_None) {
        return true;
    }
    if (!PyLong_CheckExact(object)) {
        return false;
    }
#if PY_VERSION_HEX >= 0x030C0000
    auto* number = reinterpret_cast<PyLongObject*>(object);
    if (!PyUnstable_Long_IsCompact(number)) {
        return false;
    }
    value = PyUnstable_Long_CompactValue(number);
#else
    const Py_ssize_t size = Py_SIZE(object);
    if (size < -1 || size > 1) {
        return false;
    }
    const auto digit =
        static_cast<Py_ssize_t>(reinterpret_cast<PyLongObject*>(object)->ob_digit[0]);
    value = size == 0 ? 0 : size * digit;
#endif
    return true;
}

// bytes.find's adjustment of start and end (either may be anything in the
// ssize_t range) to a haystack of `size` bytes.
[[gnu::always_inline]] inline Window adjusted_window(Py_ssize_t start, Py_ssize_t end,
                                                     Py_ssize_t size) noexcept {
    if (end > size) {
        end = size;
    } else if (end < 0) {
        end = end + size < 0 ? 0 : end + size;
    }
    if (start < 0) {
        start = start + size < 0 ? 0 : start + size;
    }
    if (start > end) {
        return Window{0, 0, true};
    }
    return Window{static_cast<std::size_t>(start), static_cast<std::size_t>(end), false};
}

// A result found in a window, as an offset into the whole haystack.
[[gnu::always_inline]] inline SearchResult from_window(SearchResult found,
                                                       std::size_t start) noexcept {
    return found.found() ? SearchResult::at(start + found.offset()) : found;
}

// Ranges of this many bytes or more are searched with the interpreter lock
// given up, so that other threads run meanwhile: giving it up and taking it
// back costs about as much as searching a few KiB, a small share from here
// on (bench/python/threads.py shows the gain and the cost).
inline constexpr std::size_t kUnlockedFrom = 256 * 1024;

// Runs `search` with the interpreter lock given up when `range` bytes are
// at least kUnlockedFrom. The caller holds every buffer the search reads
// through an export (or an immutable bytes object it holds a reference to),
// so no other thread can free, move or resize that memory meanwhile.
// `Unlocked` is the guard: LockGivenUp inside the module boundary,
// PlainLockGivenUp in a plain lane.
template <class Unlocked = LockGivenUp, class Search>
[[gnu::always_inline]] inline auto search_maybe_unlocked(std::size_t range, Search&& search) {
    if (range >= kUnlockedFrom) {
        Unlocked unlocked;
        return search();
    }
    return search();
}

}  // namespace qarvo::py
