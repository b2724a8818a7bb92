// Turning Python objects into UTF-8 text for messages. None of these fail:
// each has a documented stand-in text for objects that cannot be rendered.
#pragma once

#include <string>

#include "compat.hpp"

namespace qarvo::py {

// UTF-8 text of a str. Text that cannot be encoded (lone surrogates) is
// encoded with "surrogatepass" and decoded with each maximal invalid
// sequence replaced by U+FFFD, so a lone surrogate becomes three U+FFFD.
std::string utf8_lossy(PyObject* text);

// str(object) as UTF-8. If str() fails, the error is reported as
// unraisable and the text is "<unprintable TYPE object>".
std::string display_text(PyObject* object);

// repr(object) as UTF-8, with the same stand-in as display_text.
std::string repr_text(PyObject* object);

// The qualified name of the object's type, or "<failed to extract type
// name>" when it cannot be had as UTF-8.
std::string type_qualname_text(PyObject* object);

}  // namespace qarvo::py
