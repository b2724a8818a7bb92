// Interned attribute names, created once per process.
#pragma once

#include "py.hpp"

namespace qarvo::py {

// The process-wide interned str for a fixed ASCII name (borrowed).
PyObject* intern_name(const char* name);

}  // namespace qarvo::py
