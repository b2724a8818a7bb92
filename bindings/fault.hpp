// Internal faults: a broken internal expectation, thrown as an InternalFault
// to the nearest module boundary (boundary.hpp), the only place that catches
// it. Unwinding runs the destructors of every OwnedRef and ByteView on the
// way, so a fault releases exactly what the normal exits would have released.
// Raising one writes a report to standard error first (fault.cpp).
#pragma once

#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace qarvo::py {

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

// Writes text straight to file descriptor 2, bypassing sys.stderr: it must
// work without the interpreter lock and while the interpreter is unusable.
void write_to_stderr(std::string_view text) noexcept;

}  // namespace qarvo::py
