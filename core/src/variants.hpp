// The routine tables of the variants compiled into this build, one per
// variant_*.cpp. Which exist is decided by the build (QARVO_HAVE_* macros).
#pragma once

#include "qarvo/backend.hpp"

namespace qarvo::detail {

extern const SearchRoutines kScalarRoutines;
#if QARVO_HAVE_SSE2
extern const SearchRoutines kSse2Routines;
#endif
#if QARVO_HAVE_NEON
extern const SearchRoutines kNeonRoutines;
#endif
#if QARVO_HAVE_AVX2
extern const SearchRoutines kAvx2Routines;
#endif
#if QARVO_HAVE_AVX512BW
extern const SearchRoutines kAvx512bwRoutines;
#endif

}  // namespace qarvo::detail
