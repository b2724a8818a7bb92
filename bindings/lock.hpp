// Guards that change who holds the interpreter lock, keeping lock_depth
// (py.hpp) true while they do. Used where an error is normalised and
// rendered, and around long searches (search_args.hpp).
#pragma once

#include <utility>

#include "py.hpp"

namespace qarvo::py {

// Gives the interpreter lock up for the lifetime of the guard.
class LockGivenUp {
public:
    LockGivenUp() noexcept : saved_depth_(std::exchange(lock_depth, 0)) {
        thread_state_ = PyEval_SaveThread();
    }
    ~LockGivenUp() {
        lock_depth = saved_depth_;
        PyEval_RestoreThread(thread_state_);
        drain_deferred_releases();
    }
    LockGivenUp(const LockGivenUp&) = delete;
    LockGivenUp& operator=(const LockGivenUp&) = delete;

private:
    long saved_depth_;
    PyThreadState* thread_state_ = nullptr;
};

// Gives the interpreter lock up for the lifetime of the guard in a plain
// lane (boundary.hpp), which runs before the module boundary: nothing on
// this thread reads lock_depth or releases a reference while the lock is
// away, and deferred releases wait for the next entry, so neither is
// touched.
class PlainLockGivenUp {
public:
    PlainLockGivenUp() noexcept : thread_state_(PyEval_SaveThread()) {}
    ~PlainLockGivenUp() { PyEval_RestoreThread(thread_state_); }
    PlainLockGivenUp(const PlainLockGivenUp&) = delete;
    PlainLockGivenUp& operator=(const PlainLockGivenUp&) = delete;

private:
    PyThreadState* thread_state_;
};

// Holds the interpreter lock for the lifetime of the guard, taking it only
// if this thread does not hold it already.
class LockTaken {
public:
    LockTaken() noexcept : ensured_(lock_depth < 1) {
        if (ensured_) {
            state_ = PyGILState_Ensure();
        }
        ++lock_depth;
    }
    ~LockTaken() {
        --lock_depth;
        if (ensured_) {
            PyGILState_Release(state_);
        }
    }
    LockTaken(const LockTaken&) = delete;
    LockTaken& operator=(const LockTaken&) = delete;

private:
    bool ensured_;
    PyGILState_STATE state_{};
};

}  // namespace qarvo::py
