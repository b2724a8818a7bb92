// Pending errors: taking them out of the interpreter, building lazy ones,
// normalising and raising them.
#include "pending_error.hpp"

#include <string_view>
#include <type_traits>

#include "lock.hpp"
#include "messages.hpp"
#include "panic.hpp"
#include "text.hpp"

namespace qarvo::py {
namespace {

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
        PyErr_SetString(PyExc_TypeError, messages::kNotAnExceptionType);
    }
}

}  // namespace

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
        raise_fault(messages::kInvalidState);
    }
}

PyObject* normalize_error(PendingError& error) {
    PendingError::State& state = *error.state_;
    if (!state.normalized.load(std::memory_order_acquire)) {
        {
            std::lock_guard guard(state.normalizing_mutex);
            if (state.normalizing_thread == std::this_thread::get_id()) {
                raise_fault(messages::kReentrantNormalization);
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
                raise_fault(messages::kNormalizingTwice);
            }
            LockTaken lock;
            OwnedRef exception;
            if (auto* lazy = std::get_if<LazyError>(&taken)) {
                raise_lazy(std::move(*lazy));
                exception = OwnedRef::steal(compat::get_raised_exception());
                if (!exception) {
                    raise_fault(messages::kExceptionMissing);
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
    expect(exception != nullptr && *exception, messages::kInvalidState);
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
    std::string message = messages::kUnwrappedPanic;
    if (OwnedRef text = OwnedRef::steal(PyObject_Str(exception.get()))) {
        message = utf8_lossy(text.get());
    } else {
        PyErr_Clear();
    }
    write_to_stderr(messages::kResumeBanner);
    compat::set_raised_exception(exception.release());
    PyErr_PrintEx(0);
    raise_fault_quietly(std::move(message));
}

PendingError fetch_error() {
    if (std::optional<PendingError> error = take_error()) {
        return std::move(*error);
    }
    return PendingError::lazy(exception_type::system_error, messages::kNoExceptionSet);
}

PendingError fault_to_error(FaultPayload payload) {
    std::string message;
    if (auto* owned = std::get_if<std::string>(&payload)) {
        message = *owned;
    } else if (auto* fixed = std::get_if<const char*>(&payload)) {
        message = *fixed;
    } else {
        message = messages::kDefaultFaultText;
    }
    payload = OpaquePayload{0};
    return PendingError::lazy(LazyError{panic_exception_type, std::move(message), true});
}

PendingError conversion_failure(PyObject* object, const char* target) {
    return PendingError::lazy(exception_type::type_error,
                              messages::kConversionFailed[0] + type_qualname_text(object) +
                                  messages::kConversionFailed[1] + target +
                                  messages::kConversionFailed[2]);
}

}  // namespace qarvo::py
