// Pending errors: taking them out of the interpreter, building lazy ones,
// normalising and raising them; the PanicException type; interned names.
#include "failure.hpp"

#include <cstring>

#include "text.hpp"

namespace qarvo::py {
namespace {

constexpr const char* kNoExceptionSet = "attempted to fetch exception but none was set";
constexpr const char* kInvalidState =
    "PyErr state should never be invalid outside of normalization";
constexpr const char* kDefaultFaultText = "native code panicked";
constexpr const char* kPanicDoc =
    "\nThe exception raised when the native code of a Python extension module panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";
constexpr const char* kResumeBanner =
    "--- qarvo is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n";

// Runs a lazy error's builder: a new reference to the type and one to the
// argument to instantiate it with. Consumes the captured data.
std::pair<OwnedRef, OwnedRef> build(LazyError lazy) {
    OwnedRef type = std::visit(
        [](auto& source) -> OwnedRef {
            if constexpr (std::is_same_v<std::decay_t<decltype(source)>, OwnedRef>) {
                return std::move(source);
            } else {
                return OwnedRef::borrow(source());
            }
        },
        lazy.type);
    const std::string_view message =
        std::visit([](const auto& text) -> std::string_view { return text; }, lazy.message);
    OwnedRef argument = OwnedRef::steal(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!argument) {
        api_call_failed();
    }
    if (lazy.message_in_tuple) {
        argument = OwnedRef::steal(PyTuple_Pack(1, argument.get()));
        if (!argument) {
            api_call_failed();
        }
    }
    lazy.message = "";  // frees an owned message as soon as the str exists
    return {std::move(type), std::move(argument)};
}

void raise_lazy(LazyError lazy) {
    auto [type, argument] = build(std::move(lazy));
    if (PyExceptionClass_Check(type.get())) {
        PyErr_SetObject(type.get(), argument.get());
    } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    }
}

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

// The current exception without take_error's PanicException check, for use
// while that type is being created.
PendingError fetch_error_raw() {
    OwnedRef exception = OwnedRef::steal(compat::get_raised_exception());
    if (!exception) {
        return PendingError::lazy(exception_type::system_error, kNoExceptionSet);
    }
    return PendingError::normalized(std::move(exception));
}

// Backslash-escaped, double-quoted text.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
                    char escape[16];
                    std::snprintf(escape, sizeof escape, "\\u{%x}", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

// The traceback as the interpreter prints it, through io.StringIO.
std::string format_traceback(PyObject* traceback) {
    OwnedRef io = OwnedRef::steal(PyImport_Import(intern_name("io")));
    OwnedRef buffer;
    OwnedRef value;
    if (io) {
        OwnedRef string_io = OwnedRef::steal(PyObject_GetAttr(io.get(), intern_name("StringIO")));
        if (string_io) {
            buffer = OwnedRef::steal(PyObject_CallNoArgs(string_io.get()));
        }
    }
    if (buffer && PyTraceBack_Print(traceback, buffer.get()) == 0) {
        OwnedRef getvalue =
            OwnedRef::steal(PyObject_GetAttr(buffer.get(), intern_name("getvalue")));
        if (getvalue) {
            value = OwnedRef::steal(PyObject_CallNoArgs(getvalue.get()));
            if (value && !PyUnicode_Check(value.get())) {
                PyErr_Format(PyExc_TypeError, "StringIO.getvalue() returned %.200s, not str",
                             Py_TYPE(value.get())->tp_name);
                value.reset();
            }
        }
    }
    if (!value) {
        PyErr_WriteUnraisable(traceback);
        return "<unformattable " + repr_text(traceback) + ">";
    }
    return utf8_lossy(value.get());
}

}  // namespace

// ------------------------------------------------------------ PendingError --

PendingError::PendingError(Inner inner) : state_(std::make_unique<State>()) {
    state_->inner = std::move(inner);
}

PendingError PendingError::lazy(BorrowedTypeGetter type, const char* message) {
    return lazy(LazyError{type, message, false});
}

PendingError PendingError::lazy(BorrowedTypeGetter type, std::string message) {
    return lazy(LazyError{type, std::move(message), false});
}

PendingError PendingError::lazy(LazyError error) {
    return PendingError(Inner(std::move(error)));
}

PendingError PendingError::normalized(OwnedRef exception) {
    PendingError error{Inner(std::move(exception))};
    // Already concrete: mark the one-time normalisation as done.
    std::call_once(error.state_->normalized_once, [] {});
    error.state_->normalized.store(true, std::memory_order_release);
    return error;
}

void restore_error(PendingError error) {
    PendingError::Inner& inner = error.state_->inner;
    if (auto* lazy = std::get_if<LazyError>(&inner)) {
        raise_lazy(std::move(*lazy));
    } else if (auto* exception = std::get_if<OwnedRef>(&inner)) {
        compat::set_raised_exception(exception->release());
    } else {
        raise_fault(kInvalidState);
    }
}

PyObject* normalize_error(PendingError& error) {
    PendingError::State& state = *error.state_;
    if (!state.normalized.load(std::memory_order_acquire)) {
        {
            std::lock_guard guard(state.normalizing_mutex);
            if (state.normalizing_thread == std::this_thread::get_id()) {
                raise_fault("Re-entrant normalization of PyErrState detected");
            }
        }
        LockGivenUp given_up;
        std::call_once(state.normalized_once, [&state] {
            {
                std::lock_guard guard(state.normalizing_mutex);
                state.normalizing_thread = std::this_thread::get_id();
            }
            PendingError::Inner taken = std::exchange(state.inner, PendingError::Empty{});
            if (std::holds_alternative<PendingError::Empty>(taken)) {
                raise_fault("Cannot normalize a PyErr while already normalizing it.");
            }
            LockTaken lock;
            OwnedRef exception;
            if (auto* lazy = std::get_if<LazyError>(&taken)) {
                raise_lazy(std::move(*lazy));
                exception = OwnedRef::steal(compat::get_raised_exception());
                if (!exception) {
                    raise_fault("exception missing after writing to the interpreter");
                }
            } else {
                exception = std::move(std::get<OwnedRef>(taken));
            }
            state.inner = std::move(exception);
            state.normalized.store(true, std::memory_order_release);
            std::lock_guard guard(state.normalizing_mutex);
            state.normalizing_thread.reset();
        });
    }
    auto* exception = std::get_if<OwnedRef>(&state.inner);
    expect(exception != nullptr && *exception, kInvalidState);
    return exception->get();
}

std::optional<PendingError> take_error() {
    OwnedRef exception = OwnedRef::steal(compat::get_raised_exception());
    if (!exception) {
        return std::nullopt;
    }
    PyObject* panic_type = panic_exception_type();
    if (reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) != panic_type) {
        return PendingError::normalized(std::move(exception));
    }
    // A fault that travelled through Python code comes back as a fault.
    std::string message = "Unwrapped panic from Python code";
    if (OwnedRef text = OwnedRef::steal(PyObject_Str(exception.get()))) {
        message = utf8_lossy(text.get());
    } else {
        PyErr_Clear();
    }
    write_to_stderr(kResumeBanner);
    compat::set_raised_exception(exception.release());
    PyErr_PrintEx(0);
    raise_fault_quietly(std::move(message));
}

PendingError fetch_error() {
    if (std::optional<PendingError> error = take_error()) {
        return std::move(*error);
    }
    return PendingError::lazy(exception_type::system_error, kNoExceptionSet);
}

PendingError fault_to_error(FaultPayload payload) {
    std::string message;
    if (auto* owned = std::get_if<std::string>(&payload)) {
        message = *owned;
    } else if (auto* fixed = std::get_if<const char*>(&payload)) {
        message = *fixed;
    } else {
        message = kDefaultFaultText;
    }
    payload = OpaquePayload{0};
    return PendingError::lazy(LazyError{panic_exception_type, std::move(message), true});
}

PendingError conversion_failure(PyObject* object, const char* target) {
    return PendingError::lazy(
        exception_type::type_error,
        "'" + type_qualname_text(object) + "' object cannot be converted to '" + target + "'");
}

std::string debug_render(PendingError& error) {
    LockTaken lock;
    PyObject* exception = normalize_error(error);
    std::string traceback_text = "None";
    if (OwnedRef traceback = OwnedRef::steal(PyException_GetTraceback(exception))) {
        traceback_text = "Some(" + quoted(format_traceback(traceback.get())) + ")";
    }
    return "PyErr { type: " + repr_text(reinterpret_cast<PyObject*>(Py_TYPE(exception))) +
           ", value: " + repr_text(exception) + ", traceback: " + traceback_text + " }";
}

PyObject* panic_exception_type() {
    static std::atomic<PyObject*> cell{nullptr};
    if (PyObject* type = cell.load(std::memory_order_acquire)) {
        return type;
    }
    OwnedRef base = OwnedRef::borrow(PyExc_BaseException);
    PyObject* created =
        PyErr_NewExceptionWithDoc("qarvo_runtime.PanicException", kPanicDoc, base.get(), nullptr);
    base.reset();
    if (created == nullptr) {
        PendingError error = fetch_error_raw();
        raise_fault("Failed to initialize new exception type.: " + debug_render(error));
    }
    PyObject* stored = nullptr;
    if (!cell.compare_exchange_strong(stored, created, std::memory_order_acq_rel)) {
        release_reference(created);
        return stored;
    }
    return created;
}

PyObject* intern_name(const char* name) {
    struct Cell {
        const char* text;
        std::atomic<PyObject*> interned{nullptr};
    };
    static Cell cells[] = {{"__all__"}, {"__name__"}, {"io"}, {"StringIO"}, {"getvalue"}};
    for (Cell& cell : cells) {
        if (std::strcmp(cell.text, name) != 0) {
            continue;
        }
        if (PyObject* interned = cell.interned.load(std::memory_order_acquire)) {
            return interned;
        }
        PyObject* created = PyUnicode_FromString(name);
        if (created == nullptr) {
            api_call_failed();
        }
        PyUnicode_InternInPlace(&created);
        PyObject* stored = nullptr;
        if (!cell.interned.compare_exchange_strong(stored, created, std::memory_order_acq_rel)) {
            release_reference(created);
            return stored;
        }
        return created;
    }
    raise_fault("intern_name called with a name that has no cell");
}

}  // namespace qarvo::py
