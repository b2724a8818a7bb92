// Everything about failures, for the files that have not yet been pointed at
// the header of the one they use.
#pragma once

#include "boundary.hpp"
#include "debug_render.hpp"
#include "fault.hpp"
#include "interned.hpp"
#include "panic.hpp"
#include "pending_error.hpp"
#include "result.hpp"
