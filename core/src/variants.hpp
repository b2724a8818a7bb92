// The routine tables of the variants compiled into this build, one per
// variant_*.cpp, named <variant>_routines. Which exist, and what each needs
// of the CPU, is decided by the build (qarvo_variant in core/CMakeLists.txt).
#pragma once

#include "qarvo/backend.hpp"
#include "variant_requirements.hpp"

namespace qarvo::detail {

#define QARVO_DECLARE_ROUTINES(name, cpu_check) extern const SearchRoutines name##_routines;
QARVO_FOR_EACH_VARIANT(QARVO_DECLARE_ROUTINES)
#undef QARVO_DECLARE_ROUTINES

}  // namespace qarvo::detail
