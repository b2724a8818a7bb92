// Raising internal faults, the report written to standard error when one is
// raised, and the abnormal exits for what cannot become a Python exception.
//
// The report goes straight to file descriptor 2 (not sys.stderr): it must
// work without the interpreter lock and while the interpreter is unusable.
// QARVO_BACKTRACE=1 adds a backtrace with demangled symbol names.
#include "fault.hpp"

#include <cxxabi.h>
#include <execinfo.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "compat.hpp"
#include "messages.hpp"

namespace qarvo::py {
namespace {

std::string thread_description() {
    char name[64] = "<unnamed>";
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
        std::strcpy(name, "<unnamed>");
    }
    return "thread '" + std::string(name) + "' (tid " + std::to_string(::gettid()) + ")";
}

// "module(_ZN5qarvo...+0x1c) [0x...]" -> "module(qarvo::... +0x1c) [0x...]"
std::string demangle_frame(const char* frame) {
    std::string line(frame);
    const std::size_t open = line.find('(');
    const std::size_t plus = line.find('+', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || plus == std::string::npos || plus == open + 1) {
        return line;
    }
    const std::string mangled = line.substr(open + 1, plus - open - 1);
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
    if (status == 0 && demangled != nullptr) {
        line.replace(open + 1, plus - open - 1, demangled);
    }
    std::free(demangled);
    return line;
}

void write_backtrace() {
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    char** symbols = ::backtrace_symbols(frames, count);
    if (symbols == nullptr) {
        ::backtrace_symbols_fd(frames, count, STDERR_FILENO);
        return;
    }
    std::string text = "stack backtrace:\n";
    for (int i = 0; i < count; ++i) {
        text += "  " + std::to_string(i) + ": " + demangle_frame(symbols[i]) + "\n";
    }
    std::free(symbols);
    write_to_stderr(text);
}

void write_report(std::string_view what, std::string_view message,
                  const std::source_location& where) {
    std::string text = "qarvo: " + thread_description() + " " + std::string(what) + " at " +
                       where.file_name() + ":" + std::to_string(where.line()) + ":\n" +
                       std::string(message) + "\n";
    const char* flag = std::getenv("QARVO_BACKTRACE");
    const bool backtrace_wanted = flag != nullptr && std::strcmp(flag, "0") != 0;
    if (!backtrace_wanted) {
        text += "note: run with QARVO_BACKTRACE=1 to display a backtrace\n";
    }
    write_to_stderr(text);
    if (backtrace_wanted) {
        write_backtrace();
    }
}

std::string_view payload_text(const FaultPayload& payload) {
    if (const auto* fixed = std::get_if<const char*>(&payload)) {
        return *fixed;
    }
    if (const auto* owned = std::get_if<std::string>(&payload)) {
        return *owned;
    }
    return "<fault payload that is not text>";
}

}  // namespace

void write_to_stderr(std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void raise_fault(FaultPayload payload, std::source_location where) {
    write_report("raised an internal fault", payload_text(payload), where);
    throw InternalFault(std::move(payload), where);
}

void raise_fault_quietly(std::string message, std::source_location where) {
    throw InternalFault(std::move(message), where);
}

void api_call_failed(std::source_location where) {
    PyErr_Print();
    raise_fault(messages::kApiCallFailed, where);
}

void abort_with_report(std::string_view message, std::source_location where) {
    write_report("cannot continue", message, where);
    std::abort();
}

}  // namespace qarvo::py
