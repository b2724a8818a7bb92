// find_any, rfind_any, find_not_any and rfind_not_any: the first or last
// byte of haystack[start:end] that is, or is not, in a set of bytes.
#pragma once

#include "call.hpp"

namespace qarvo::py {

extern const FastcallEntry find_any_entry;
extern const FastcallEntry rfind_any_entry;
extern const FastcallEntry find_not_any_entry;
extern const FastcallEntry rfind_not_any_entry;

}  // namespace qarvo::py
