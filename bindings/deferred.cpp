// Releases of references by threads that do not hold the interpreter lock.
#include "deferred.hpp"

#include <atomic>
#include <mutex>
#include <vector>

#include "py.hpp"

namespace qarvo::py {
namespace {

// The list's size is kept in deferred_count, written under the mutex.
struct DeferredReleases {
    std::mutex mutex;
    std::vector<PyObject*> objects;
};

DeferredReleases& deferred() noexcept {
    // Never destroyed: a release may be deferred while the process exits.
    static auto* const list = new DeferredReleases;
    return *list;
}

}  // namespace

void release_reference(PyObject* object) noexcept {
    if (lock_depth >= 1) {
        Py_DECREF(object);
        return;
    }
    DeferredReleases& list = deferred();
    std::lock_guard guard(list.mutex);
    list.objects.push_back(object);
    deferred_count.store(list.objects.size(), std::memory_order_release);
}

void drain_deferred_releases_now() noexcept {
    DeferredReleases& list = deferred();
    std::vector<PyObject*> taken;
    {
        std::lock_guard guard(list.mutex);
        taken.swap(list.objects);
        deferred_count.store(0, std::memory_order_release);
    }
    // Released after unlocking: a destructor may run Python code that
    // defers releases of its own.
    for (PyObject* object : taken) {
        Py_DECREF(object);
    }
}

std::size_t deferred_release_count() noexcept {
    return deferred_count.load(std::memory_order_acquire);
}

}  // namespace qarvo::py
