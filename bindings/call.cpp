#include "call.hpp"

#include <cstring>
#include <string>
#include <string_view>

#include "boundary.hpp"
#include "messages.hpp"
#include "needle.hpp"
#include "text.hpp"

namespace qarvo::py {
namespace {

constexpr const char* kParameterNames[2] = {"haystack", "needle"};

PendingError binding_error(const CallDescription& call, std::string_view detail) {
    return PendingError::lazy(exception_type::type_error,
                              std::string(call.display_name) + std::string(detail));
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c' ...
std::string quoted_name_list(const char* const* names, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            if (count > 2) {
                out += ",";
            }
            out += i + 1 == count ? " and " : " ";
        }
        out += "'" + std::string(names[i]) + "'";
    }
    return out;
}

}  // namespace

Result<BoundArguments> bind_any_arguments(const CallDescription& call, PyObject* const* args,
                                          Py_ssize_t positional_count, PyObject* keyword_names) {
    PyObject* slots[2] = {nullptr, nullptr};
    if (positional_count > 2) {
        return binding_error(call, messages::kTooManyPositional[0] +
                                       std::to_string(positional_count) +
                                       messages::kTooManyPositional[1]);
    }
    for (Py_ssize_t i = 0; i < positional_count; ++i) {
        slots[i] = args[i];
    }
    const Py_ssize_t keyword_count = keyword_names ? PyTuple_GET_SIZE(keyword_names) : 0;
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* name = PyTuple_GET_ITEM(keyword_names, k);
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(name, &size);
        if (text == nullptr) {
            PyErr_Clear();  // unencodable: cannot equal a parameter name
        }
        const std::string_view given =
            text ? std::string_view(text, static_cast<std::size_t>(size)) : std::string_view();
        std::size_t slot = 2;
        for (std::size_t p = 0; text != nullptr && p < 2; ++p) {
            if (given == kParameterNames[p]) {
                slot = p;
            }
        }
        if (slot == 2) {
            return binding_error(call, messages::kUnexpectedKeyword + display_text(name) + "'");
        }
        if (slots[slot] != nullptr) {
            return binding_error(call, messages::kGivenTwice + std::string(given) + "'");
        }
        slots[slot] = args[positional_count + k];
    }
    const char* missing[2];
    std::size_t missing_count = 0;
    for (std::size_t p = 0; p < 2; ++p) {
        if (slots[p] == nullptr) {
            missing[missing_count++] = kParameterNames[p];
        }
    }
    if (missing_count > 0) {
        return binding_error(call, messages::kMissing[0] + std::to_string(missing_count) +
                                       messages::kMissing[1] +
                                       (missing_count == 1 ? "argument" : "arguments") + ": " +
                                       quoted_name_list(missing, missing_count));
    }
    return BoundArguments{slots[0], slots[1]};
}

}  // namespace qarvo::py

// ------------------------------------------------------------------ bodies --
//
// Each function has a plain search and a body. The plain search answers the
// plain call: a haystack read in place (plain_haystack) with a needle that
// converts without a failure or Python code (a small int, an exact `bytes`),
// where the body's steps would all succeed without a trace; it declines
// every other call. The body answers every call and reads as its steps in
// order. search_one/two/three convert the needle before they request the
// haystack's buffer; search_n holds the haystack's buffer while it converts
// the needle, so Python code run by the needle's conversion cannot resize
// the haystack. Views are released in reverse order of acquisition: the
// needle's before the haystack's.

namespace qarvo::py {
namespace {

constexpr CallDescription kSearchOne{"search_one", "search_one()"};
constexpr CallDescription kSearchTwo{"search_two", "search_two()"};
constexpr CallDescription kSearchThree{"search_three", "search_three()"};
constexpr CallDescription kSearchN{"search_n", "search_n()"};

template <std::size_t N>
bool plain_search_fixed(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        SearchResult& found) noexcept {
    if (ByteRange plain; plain_haystack(args, nargs, kwnames, plain)) {
        if (PyBytes_CheckExact(args[1]) && PyBytes_GET_SIZE(args[1]) == N) [[likely]] {
            const auto* b = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(args[1]));
            if constexpr (N == 2) {
                found = find_two(plain, b[0], b[1]);
            } else {
                found = find_three(plain, b[0], b[1], b[2]);
            }
            return true;
        }
    }
    return false;
}

template <std::size_t N>
Result<OwnedRef> search_fixed(const CallDescription& call, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    Result<BoundArguments> bound = bind_arguments(call, args, nargs, kwnames);
    if (!bound) {
        return std::move(bound).error();
    }
    Result<std::array<std::uint8_t, N>> needle = extract_fixed_needle<N>(bound.value().needle);
    if (!needle) {
        return wrap_needle_error(std::move(needle).error());
    }
    ByteView haystack;
    if (Status acquired = acquire_haystack(bound.value().haystack, haystack); !acquired) {
        return std::move(acquired).error();
    }
    const std::array<std::uint8_t, N>& b = needle.value();
    const SearchResult found = [&] {
        if constexpr (N == 2) {
            return find_two(haystack.bytes(), b[0], b[1]);
        } else {
            return find_three(haystack.bytes(), b[0], b[1], b[2]);
        }
    }();
    haystack.release();
    return to_result(found);
}

bool plain_search_one(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      SearchResult& found) noexcept {
    if (ByteRange plain; plain_haystack(args, nargs, kwnames, plain)) {
        if (const int byte = compat::small_byte(args[1]); byte >= 0) [[likely]] {
            found = find_one(plain, static_cast<std::uint8_t>(byte));
            return true;
        }
    }
    return false;
}

Result<OwnedRef> search_one(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Result<BoundArguments> bound = bind_arguments(kSearchOne, args, nargs, kwnames);
    if (!bound) {
        return std::move(bound).error();
    }
    Result<std::uint8_t> needle = extract_byte(bound.value().needle);
    if (!needle) {
        return wrap_needle_error(std::move(needle).error());
    }
    ByteView haystack;
    if (Status acquired = acquire_haystack(bound.value().haystack, haystack); !acquired) {
        return std::move(acquired).error();
    }
    const SearchResult found = find_one(haystack.bytes(), needle.value());
    haystack.release();
    return to_result(found);
}

Result<OwnedRef> search_two(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return search_fixed<2>(kSearchTwo, args, nargs, kwnames);
}

Result<OwnedRef> search_three(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return search_fixed<3>(kSearchThree, args, nargs, kwnames);
}

constexpr auto plain_search_two = plain_search_fixed<2>;
constexpr auto plain_search_three = plain_search_fixed<3>;

bool plain_search_n(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    SearchResult& found) noexcept {
    if (ByteRange plain; plain_haystack(args, nargs, kwnames, plain)) {
        if (PyBytes_CheckExact(args[1])) [[likely]] {
            const ByteRange needle{
                reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(args[1])),
                static_cast<std::size_t>(PyBytes_GET_SIZE(args[1]))};
            // A needle longer than the haystack is answered without the
            // search's indirect call (an empty needle is never longer).
            found = needle.size > plain.size ? SearchResult::not_found() : find_n(plain, needle);
            return true;
        }
    }
    return false;
}

Result<OwnedRef> search_n(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Result<BoundArguments> bound = bind_arguments(kSearchN, args, nargs, kwnames);
    if (!bound) {
        return std::move(bound).error();
    }
    ByteView haystack;
    if (Status acquired = acquire_haystack(bound.value().haystack, haystack); !acquired) {
        return std::move(acquired).error();
    }
    NeedleBytes needle;
    if (Status extracted = needle.extract(bound.value().needle); !extracted) {
        return std::move(extracted).error();  // needle's hold is gone, haystack's goes next
    }
    const SearchResult found = find_n(haystack.bytes(), needle.bytes());
    needle.release();
    haystack.release();
    return to_result(found);
}

template <PlainSearch Plain, SearchBody Body>
PyObject* fastcall_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) noexcept {
    return run_search_boundary<Plain, Body>(args, nargs, kwnames);
}

}  // namespace

const FastcallEntry search_one_entry = &fastcall_entry<plain_search_one, search_one>;
const FastcallEntry search_two_entry = &fastcall_entry<plain_search_two, search_two>;
const FastcallEntry search_three_entry = &fastcall_entry<plain_search_three, search_three>;
const FastcallEntry search_n_entry = &fastcall_entry<plain_search_n, search_n>;

}  // namespace qarvo::py
