// Functions the module calls that the oldest glibc its wheels support lacks.
// A wheel is built against glibc 2.28 (see packaging/zig-c++), where the
// headers still declare gettid() but the library only gained it in 2.30; the
// definition here is hidden, so the module binds to it and needs nothing newer
// from the system. Against a newer glibc this file is empty.
#include <features.h>

#if defined(__GLIBC__) && __GLIBC__ == 2 && __GLIBC_MINOR__ < 30
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

extern "C" __attribute__((visibility("hidden"))) pid_t gettid() noexcept {
    return static_cast<pid_t>(syscall(SYS_gettid));
}
#endif
