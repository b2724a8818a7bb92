// Ownership of Python references.
//
// Every owning PyObject* in the bindings lives in an OwnedRef; a plain
// PyObject* is always borrowed. Releasing a reference needs the interpreter
// lock: a thread that is inside the module (lock_depth >= 1) holds it and
// releases at once, any other thread parks the reference on a process-wide
// list that the next entry into the module drains.
#pragma once

#include <utility>

#include "compat.hpp"
#include "deferred.hpp"

namespace qarvo::py {

// Number of module frames on this thread that run with the interpreter lock
// held. 0 on every thread at the start; the module boundary adds 1 on entry
// and takes it away on every exit. Read and written on every call, so it uses
// the initial-exec model: a fixed offset from the thread pointer instead of a
// __tls_get_addr call (the module is loaded once, and one long fits easily in
// the static TLS space the loader keeps for such modules).
inline thread_local long lock_depth [[gnu::tls_model("initial-exec")]] = 0;

// Holds one level of lock_depth for the lifetime of the guard.
class LockDepthScope {
public:
    LockDepthScope() noexcept { ++lock_depth; }
    ~LockDepthScope() { --lock_depth; }
    LockDepthScope(const LockDepthScope&) = delete;
    LockDepthScope& operator=(const LockDepthScope&) = delete;
};

class OwnedRef {
public:
    OwnedRef() noexcept = default;
    ~OwnedRef() { reset(); }

    // Takes over a new reference (NULL allowed: an empty OwnedRef).
    static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    // Takes a reference of its own to a borrowed object.
    static OwnedRef borrow(PyObject* object) noexcept { return OwnedRef(Py_XNewRef(object)); }

    OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;

    // Borrowed: valid while this OwnedRef holds it.
    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hands the reference over: the caller owns the returned new reference.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    void reset() noexcept {
        if (PyObject* object = std::exchange(object_, nullptr)) {
            release_reference(object);
        }
    }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace qarvo::py
