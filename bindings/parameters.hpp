// Argument binding for the functions and methods whose signatures have
// optional and keyword-only parameters: (haystack, needle, start=None,
// end=None, *, overlapping=False) and the like. The messages are the ones
// the interpreter gives for a Python function of the same signature, and
// the checks run in its order: keywords (unknown, given twice), then the
// number of positional arguments, then what is missing.
#pragma once

#include <cstddef>
#include <span>

#include "result.hpp"

namespace qarvo::py {

struct Signature {
    // The start of every message: "find()" or "Finder.find()".
    const char* display_name;
    // Every parameter name: those that may be given by position first, then
    // the keyword-only ones. At most kMaxParameters.
    std::span<const char* const> names;
    // How many of the leading parameters are required, and how many may be
    // given by position.
    std::size_t required;
    std::size_t positional;
    // Parameters the caller does not pass but messages count, as a Python
    // method counts `self`: 1 for methods, 0 for functions.
    std::size_t implicit = 0;
};

inline constexpr std::size_t kMaxParameters = 6;

// The arguments by parameter, borrowed from the call; nullptr where a
// parameter was not given.
struct Bound {
    PyObject* slot[kMaxParameters] = {};
    PyObject* operator[](std::size_t i) const noexcept { return slot[i]; }
};

// Binds any mix of positional and keyword arguments.
Result<Bound> bind_parameters(const Signature& signature, PyObject* const* args,
                              Py_ssize_t positional_count, PyObject* keyword_names);

// The common call, every argument by position and none missing, binds inline.
[[gnu::always_inline]] inline Result<Bound> bind(const Signature& signature, PyObject* const* args,
                                                 Py_ssize_t positional_count,
                                                 PyObject* keyword_names) {
    const auto count = static_cast<std::size_t>(positional_count);
    if (keyword_names == nullptr && count >= signature.required && count <= signature.positional)
        [[likely]] {
        Bound bound;
        for (std::size_t i = 0; i < count; ++i) {
            bound.slot[i] = args[i];
        }
        return bound;
    }
    return bind_parameters(signature, args, positional_count, keyword_names);
}

}  // namespace qarvo::py
