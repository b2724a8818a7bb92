// Finder: a needle prepared once, for searching many haystacks with it.
#pragma once

#include "result.hpp"

namespace qarvo::py {

// The Finder type, made on first use and kept for the life of the process
// (a borrowed reference).
Result<PyObject*> finder_type();

}  // namespace qarvo::py
