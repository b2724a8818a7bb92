// PanicException, the type an internal fault reaches the caller as.
#pragma once

#include "py.hpp"

namespace qarvo::py {

// The PanicException type: borrowed, lives for the rest of the process.
PyObject* panic_exception_type();

}  // namespace qarvo::py
