#include "allocation.hpp"

#include <typeinfo>

#include "messages.hpp"

// The link step passes --wrap=_Znwm and --wrap=_Znam: the module's calls of
// operator new(size_t) and operator new[](size_t) land here, and __real_*
// is whatever operator new the dynamic linker would have bound (libstdc++'s,
// or a sanitizer's). Nothing else changes: the matching operator delete is
// still that library's own, so memory freed across libraries stays paired.
extern "C" {
void* __real__Znwm(std::size_t size);
void* __real__Znam(std::size_t size);

void* __wrap__Znwm(std::size_t size) {
    try {
        return __real__Znwm(size);
    } catch (const std::bad_alloc&) {
        throw qarvo::py::AllocationFailure(size);
    }
}

void* __wrap__Znam(std::size_t size) {
    try {
        return __real__Znam(size);
    } catch (const std::bad_alloc&) {
        throw qarvo::py::AllocationFailure(size);
    }
}
}

namespace qarvo::py {

std::string allocation_failure_message(const std::bad_alloc& failure) {
    if (const auto* sized = dynamic_cast<const AllocationFailure*>(&failure)) {
        return "memory allocation of " + std::to_string(sized->size()) + " bytes failed";
    }
    return messages::kOutOfMemory;
}

}  // namespace qarvo::py
