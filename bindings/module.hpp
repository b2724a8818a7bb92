// Building the qarvo module object.
#pragma once

#include "result.hpp"

namespace qarvo::py {

// Adds the four functions and __version__ to a freshly created module.
Status populate_module(PyObject* module);

// Creates a built-in function from `record`, bound to `module`, and adds it
// under its own __name__.
Status add_function(PyObject* module, PyMethodDef* record);

// Appends `name` to the module's __all__ (creating the list on first use)
// and sets the attribute `name` to `value`.
Status add_member(PyObject* module, PyObject* name, PyObject* value);

}  // namespace qarvo::py
