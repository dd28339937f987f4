#pragma once

#include <utility>
#include <variant>

#include "error/vesk_error.hpp"

namespace vesk {

// A value or the error that prevented it. std::expected would do, but the
// libFuzzer builds use clang 14, whose concepts level keeps libstdc++'s
// <expected> switched off; this small type works with both compilers.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(VeskError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    VeskError& error() & { return std::get<1>(state_); }
    const VeskError& error() const& { return std::get<1>(state_); }
    VeskError&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, VeskError> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(VeskError error) : error_(std::move(error)), failed_(true) {}

    bool has_value() const noexcept { return !failed_; }
    explicit operator bool() const noexcept { return has_value(); }

    VeskError& error() & { return error_; }
    const VeskError& error() const& { return error_; }
    VeskError&& error() && { return std::move(error_); }

private:
    VeskError error_{};
    bool failed_ = false;
};

using Status = Result<void>;

}  // namespace vesk
