#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace pelorin {

// The failure half of an Expected, so that a value and an error of the same type stay apart.
template <class E>
struct Unexpected {
    E error;
};

template <class E>
[[nodiscard]] Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

// A value or the typed error that explains why there is none (C++20 has no std::expected).
template <class T, class E>
class [[nodiscard]] Expected {
  public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class U>
    Expected(Unexpected<U> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool hasValue() const { return state_.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const E& error() const { return std::get<1>(state_); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

  private:
    std::variant<T, E> state_;
};

}  // namespace pelorin
