// Errors that go back to the caller as Python exceptions.
//
// Inside the bindings nothing is raised into the interpreter: a fallible
// step returns a Result (result.hpp) whose error side is a PendingError,
// lazy (a type and a message, built when raised) or a concrete exception
// object. The module boundary raises it (restore_error).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>

#include "fault.hpp"
#include "py.hpp"

namespace qarvo::py {

// How a lazy error gets its exception type when it is built.
using BorrowedTypeGetter = PyObject* (*)();

// The built-in exception types the bindings raise, as type getters
// (borrowed references, alive for the whole process).
template <PyObject** Type>
PyObject* builtin_exception() {
    return *Type;
}
namespace exception_type {
inline constexpr BorrowedTypeGetter type_error = &builtin_exception<&PyExc_TypeError>;
inline constexpr BorrowedTypeGetter value_error = &builtin_exception<&PyExc_ValueError>;
inline constexpr BorrowedTypeGetter overflow_error = &builtin_exception<&PyExc_OverflowError>;
inline constexpr BorrowedTypeGetter buffer_error = &builtin_exception<&PyExc_BufferError>;
inline constexpr BorrowedTypeGetter system_error = &builtin_exception<&PyExc_SystemError>;
inline constexpr BorrowedTypeGetter import_error = &builtin_exception<&PyExc_ImportError>;
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

}  // namespace qarvo::py
