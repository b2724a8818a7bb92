// The fixed texts of the module's messages and docstrings. They are part of
// the module's interface: callers and tests compare them to the letter, so a
// change here is a change of the interface.
#pragma once

namespace qarvo::py::messages {

// ---- errors taken from and raised into the interpreter (pending_error.cpp)
constexpr const char* kNoExceptionSet = "attempted to fetch exception but none was set";
constexpr const char* kNotAnExceptionType = "exceptions must derive from BaseException";
// Conversion failure: kConversionFailed[0] + type name + [1] + target + [2].
constexpr const char* kConversionFailed[3] = {"'", "' object cannot be converted to '", "'"};

// ---- internal faults, seen by the caller as PanicException messages
constexpr const char* kApiCallFailed = "Python API call failed";
constexpr const char* kDefaultFaultText = "native code panicked";
constexpr const char* kUnwrappedPanic = "Unwrapped panic from Python code";
constexpr const char* kInvalidState =
    "PyErr state should never be invalid outside of normalization";
constexpr const char* kReentrantNormalization = "Re-entrant normalization of PyErrState detected";
constexpr const char* kNormalizingTwice = "Cannot normalize a PyErr while already normalizing it.";
constexpr const char* kExceptionMissing = "exception missing after writing to the interpreter";
constexpr const char* kPanicTypeFailed = "Failed to initialize new exception type.: ";
constexpr const char* kNameWithoutCell = "intern_name called with a name that has no cell";

// ---- what ends the process instead (boundary.hpp), after a report
constexpr const char* kUncaughtFault = "uncaught panic at ffi boundary";
constexpr const char* kOutOfMemory = "memory allocation failed";
constexpr const char* kForeignException = "a foreign exception reached the module boundary";

// ---- the PanicException type (panic.cpp)
constexpr const char* kPanicTypeName = "qarvo_runtime.PanicException";
constexpr const char* kPanicDoc =
    "\nThe exception raised when the native code of a Python extension module panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";
// Written to standard error before a PanicException that came back through
// Python code is resumed as a fault.
constexpr const char* kResumeBanner =
    "--- qarvo is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n";

}  // namespace qarvo::py::messages
