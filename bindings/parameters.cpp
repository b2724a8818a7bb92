#include "parameters.hpp"

#include <string>
#include <string_view>

#include "messages.hpp"
#include "text.hpp"

namespace qarvo::py {
namespace {

PendingError binding_error(const Signature& signature, const std::string& detail) {
    return PendingError::lazy(exception_type::type_error,
                              std::string(signature.display_name) + detail);
}

std::string plural(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string quoted_names(const char* const* names, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            out += count > 2 ? ", " : " ";
            if (i + 1 == count) {
                out += "and ";
            }
        }
        out += "'" + std::string(names[i]) + "'";
    }
    return out;
}

PendingError too_many_positional(const Signature& signature, std::size_t given,
                                 std::size_t keyword_only_given) {
    const std::size_t low = signature.required + signature.implicit;
    const std::size_t high = signature.positional + signature.implicit;
    std::string takes = low == high ? std::to_string(high)
                                    : "from " + std::to_string(low) + " to " + std::to_string(high);
    const std::size_t counted = given + signature.implicit;
    std::string detail = " takes " + takes +
                         (high == 1 ? " positional argument" : " positional arguments") + " but ";
    if (keyword_only_given > 0) {
        detail += plural(counted, "positional argument") + " (and " +
                  plural(keyword_only_given, "keyword-only argument") + ")";
    } else {
        detail += std::to_string(counted);
    }
    detail += counted == 1 && keyword_only_given == 0 ? " was given" : " were given";
    return binding_error(signature, detail);
}

}  // namespace

Result<Bound> bind_parameters(const Signature& signature, PyObject* const* args,
                              Py_ssize_t positional_count, PyObject* keyword_names) {
    const std::size_t total = signature.names.size();
    const auto given = static_cast<std::size_t>(positional_count);
    Bound bound;
    for (std::size_t i = 0; i < given && i < signature.positional; ++i) {
        bound.slot[i] = args[i];
    }
    const Py_ssize_t keyword_count = keyword_names ? PyTuple_GET_SIZE(keyword_names) : 0;
    std::size_t keyword_only_given = 0;
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* name = PyTuple_GET_ITEM(keyword_names, k);
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(name, &size);
        if (text == nullptr) {
            PyErr_Clear();  // unencodable: cannot equal a parameter name
        }
        const std::string_view spelled =
            text ? std::string_view(text, static_cast<std::size_t>(size)) : std::string_view();
        std::size_t slot = total;
        for (std::size_t p = 0; text != nullptr && p < total; ++p) {
            if (spelled == signature.names[p]) {
                slot = p;
            }
        }
        if (slot == total) {
            return binding_error(signature,
                                 messages::kUnexpectedKeyword + display_text(name) + "'");
        }
        if (bound.slot[slot] != nullptr) {
            return binding_error(signature, messages::kGivenTwice + std::string(spelled) + "'");
        }
        bound.slot[slot] = args[positional_count + k];
        if (slot >= signature.positional) {
            ++keyword_only_given;
        }
    }
    if (given > signature.positional) {
        return too_many_positional(signature, given, keyword_only_given);
    }
    const char* missing[kMaxParameters];
    std::size_t missing_count = 0;
    for (std::size_t p = 0; p < signature.required; ++p) {
        if (bound.slot[p] == nullptr) {
            missing[missing_count++] = signature.names[p];
        }
    }
    if (missing_count > 0) {
        return binding_error(signature, messages::kMissing[0] + std::to_string(missing_count) +
                                            messages::kMissing[1] +
                                            (missing_count == 1 ? "argument" : "arguments") + ": " +
                                            quoted_names(missing, missing_count));
    }
    return bound;
}

}  // namespace qarvo::py
