// Errors and internal faults, and the module boundary that converts them.
//
// Inside the bindings nothing is raised into the interpreter: a fallible
// step returns Result<T>, whose error side is a PendingError. Only a broken
// internal expectation throws, as an InternalFault, and only the module
// boundary (run_boundary) catches it. Unwinding runs the destructors of
// every OwnedRef and ByteView on the way, so a fault releases exactly what
// the normal exits would have released.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <variant>

#include "allocation.hpp"
#include "py.hpp"

namespace qarvo::py {

// ---------------------------------------------------------------- faults --

// What a fault carries: a fixed text, an owned text, or a value of another
// kind (which converts to the default fault text).
struct OpaquePayload {
    long value;
};
using FaultPayload = std::variant<const char*, std::string, OpaquePayload>;

// Thrown by raise_fault; caught only by run_boundary.
class InternalFault {
public:
    InternalFault(FaultPayload payload, std::source_location where) noexcept
        : payload_(std::move(payload)), where_(where) {}
    FaultPayload take_payload() noexcept { return std::move(payload_); }
    const std::source_location& where() const noexcept { return where_; }

private:
    FaultPayload payload_;
    std::source_location where_;
};

// Writes the fault report (thread, source location, message) to standard
// error, then throws the fault.
[[noreturn]] void raise_fault(FaultPayload payload,
                              std::source_location where = std::source_location::current());

// Throws without a report: used for a fault resumed from Python code, whose
// report is the banner written by take_error.
[[noreturn]] void raise_fault_quietly(std::string message,
                                      std::source_location where = std::source_location::current());

// For an interpreter call that must not fail (creating a message str, a
// result int, ...): prints the interpreter's pending error and faults with
// "Python API call failed".
[[noreturn]] void api_call_failed(std::source_location where = std::source_location::current());

// Checks an internal expectation; a violated one is a fault.
inline void expect(bool condition, const char* message,
                   std::source_location where = std::source_location::current()) {
    if (!condition) [[unlikely]] {
        raise_fault(message, where);
    }
}

// Ends the process with a report, for what cannot become an exception.
[[noreturn]] void abort_with_report(std::string_view message,
                                    std::source_location where = std::source_location::current());

// --------------------------------------------------------- pending error --

// How a lazy error gets its exception type when it is built.
using BorrowedTypeGetter = PyObject* (*)();

// The built-in exception types the bindings raise, as type getters
// (borrowed references, alive for the whole process).
namespace exception_type {
inline PyObject* type_error() {
    return PyExc_TypeError;
}
inline PyObject* value_error() {
    return PyExc_ValueError;
}
inline PyObject* overflow_error() {
    return PyExc_OverflowError;
}
inline PyObject* buffer_error() {
    return PyExc_BufferError;
}
inline PyObject* system_error() {
    return PyExc_SystemError;
}
inline PyObject* import_error() {
    return PyExc_ImportError;
}
}  // namespace exception_type

// A lazy error's captured data: the type and the message of the exception
// to build. The builder runs at most once, with the interpreter lock held.
struct LazyError {
    std::variant<BorrowedTypeGetter, OwnedRef> type;
    std::variant<const char*, std::string> message;
    // PanicException takes its message as a 1-tuple of args.
    bool message_in_tuple = false;
};

class PendingError {
public:
    // Lazy errors with a fixed or owned str message.
    static PendingError lazy(BorrowedTypeGetter type, const char* message);
    static PendingError lazy(BorrowedTypeGetter type, std::string message);
    static PendingError lazy(LazyError error);
    // Takes over a new reference to a concrete exception object.
    static PendingError normalized(OwnedRef exception);

    PendingError(PendingError&&) noexcept = default;
    PendingError& operator=(PendingError&&) noexcept = default;
    ~PendingError() = default;

private:
    friend void restore_error(PendingError error);
    friend PyObject* normalize_error(PendingError& error);

    struct Empty {};
    using Inner = std::variant<Empty, LazyError, OwnedRef>;

    // The once-flag and mutex cannot move, so the state lives on the heap;
    // errors are off the fast path.
    struct State {
        std::once_flag normalized_once;
        std::atomic<bool> normalized{false};
        std::mutex normalizing_mutex;
        std::optional<std::thread::id> normalizing_thread;
        Inner inner;
    };

    explicit PendingError(Inner inner);
    std::unique_ptr<State> state_;
};

// Consumes the error and raises it into the interpreter.
void restore_error(PendingError error);

// The concrete exception object of the error (borrowed from it), building it
// from the lazy form if needed. Gives the interpreter lock up meanwhile.
PyObject* normalize_error(PendingError& error);

// The interpreter's current exception as a PendingError (and clears it), or
// nothing. A PanicException coming back from Python code is resumed as a
// fault instead.
std::optional<PendingError> take_error();

// take_error(), or SystemError "attempted to fetch exception but none was
// set" when the failed call left no exception.
PendingError fetch_error();

// A lazy PanicException carrying the payload's message.
PendingError fault_to_error(FaultPayload payload);

// "'" + qualified type name of `object` + "' object cannot be converted to
// '" + target + "'", as a lazy TypeError.
PendingError conversion_failure(PyObject* object, const char* target);

// Text rendering of an error, used inside fault messages.
std::string debug_render(PendingError& error);

// The PanicException type: borrowed, lives for the rest of the process.
PyObject* panic_exception_type();

// The process-wide interned str for a fixed ASCII name (borrowed).
PyObject* intern_name(const char* name);

// ---------------------------------------------------------------- result --

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : outcome_(std::in_place_index<0>, std::move(value)) {}
    Result(PendingError error) : outcome_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return outcome_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    // Preconditions: ok() for value(), !ok() for error().
    T& value() & noexcept { return *std::get_if<0>(&outcome_); }
    T&& value() && noexcept { return std::move(*std::get_if<0>(&outcome_)); }
    PendingError&& error() && noexcept { return std::move(*std::get_if<1>(&outcome_)); }

private:
    std::variant<T, PendingError> outcome_;
};

struct Success {};
using Status = Result<Success>;
inline Status success() {
    return Success{};
}

// -------------------------------------------------------------- boundary --

// The one way in from the interpreter. Counts lock_depth, drains deferred
// releases, runs `body` (which returns Result<OwnedRef>), and turns the
// outcome into a new reference or NULL with an exception set.
template <class Body>
PyObject* run_boundary(Body&& body) noexcept {
    LockDepthScope depth;
    drain_deferred_releases();
    try {
        try {
            Result<OwnedRef> outcome = body();
            if (outcome) {
                return std::move(outcome).value().release();
            }
            restore_error(std::move(outcome).error());
        } catch (InternalFault& fault) {
            restore_error(fault_to_error(fault.take_payload()));
        }
    } catch (InternalFault& fault) {
        abort_with_report("uncaught panic at ffi boundary", fault.where());
    } catch (const std::bad_alloc& failure) {
        abort_with_report(allocation_failure_message(failure));
    } catch (...) {
        abort_with_report("a foreign exception reached the module boundary");
    }
    return nullptr;
}

}  // namespace qarvo::py
