// MultiFinder: a set of needles prepared once, searched for in one pass.
#pragma once

#include "result.hpp"

namespace qarvo::py {

// The MultiFinder type, made on first use and kept for the life of the
// process (a borrowed reference).
Result<PyObject*> multi_finder_type();

}  // namespace qarvo::py
