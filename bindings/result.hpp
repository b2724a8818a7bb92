// Result<T>: the value of a fallible step, or the PendingError to raise.
#pragma once

#include <utility>
#include <variant>

#include "pending_error.hpp"

namespace qarvo::py {

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

}  // namespace qarvo::py
