// Releases of references by threads that do not hold the interpreter lock.
#include <atomic>
#include <mutex>
#include <vector>

#include "py.hpp"

namespace qarvo::py {
namespace {

struct DeferredReleases {
    std::mutex mutex;
    std::vector<PyObject*> objects;
    // Read without the mutex so that the common case, nothing deferred,
    // costs one relaxed load on every entry into the module.
    std::atomic<std::size_t> count{0};
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
    list.count.store(list.objects.size(), std::memory_order_release);
}

void drain_deferred_releases() noexcept {
    DeferredReleases& list = deferred();
    if (list.count.load(std::memory_order_acquire) == 0) {
        return;
    }
    std::vector<PyObject*> taken;
    {
        std::lock_guard guard(list.mutex);
        taken.swap(list.objects);
        list.count.store(0, std::memory_order_release);
    }
    // Released after unlocking: a destructor may run Python code that
    // defers releases of its own.
    for (PyObject* object : taken) {
        Py_DECREF(object);
    }
}

std::size_t deferred_release_count() noexcept {
    return deferred().count.load(std::memory_order_acquire);
}

}  // namespace qarvo::py
