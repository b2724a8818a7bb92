// The debug rendering of an error, for the text of internal faults:
// PyErr { type: ..., value: ..., traceback: ... }.
#pragma once

#include <string>

#include "pending_error.hpp"

namespace qarvo::py {

// Text rendering of an error, used inside fault messages.
std::string debug_render(PendingError& error);

}  // namespace qarvo::py
