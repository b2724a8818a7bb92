// The probes' record, in the core's test build only (probe.hpp).
#include "probe.hpp"

#if QARVO_SEARCH_PROBES
namespace qarvo::detail {

SearchProbe g_search_probe;

}  // namespace qarvo::detail
#endif
