#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace velloq::platform {

// A value or the error that kept it from being made: the error travels with the result, so a
// caller never reads an error left over from an earlier call.
template<typename T, typename E>
class [[nodiscard]] Result {
public:
    Result(T value)
        : m_outcome(std::in_place_index<0>, std::move(value))
    {
    }
    Result(E error)
        : m_outcome(std::in_place_index<1>, std::move(error))
    {
    }

    bool ok() const { return m_outcome.index() == 0; }
    bool has_value() const { return ok(); }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_outcome); }
    T const& value() const& { return std::get<0>(m_outcome); }
    // A temporary hands its value over, so nothing refers into it after it ends.
    T value() && { return std::get<0>(std::move(m_outcome)); }
    T& operator*() & { return value(); }
    T const& operator*() const& { return value(); }
    T operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    T const* operator->() const { return &value(); }
    T value_or(T fallback) const& { return ok() ? value() : std::move(fallback); }
    // The value, if there is one, for callers that only ask whether it is there.
    std::optional<T> as_optional() && { return ok() ? std::optional<T>(std::move(*this).value()) : std::nullopt; }

    E const& error() const { return std::get<1>(m_outcome); }

    // Equal to a value when it holds that value.
    template<typename U>
    friend bool operator==(Result const& result, U const& value)
    {
        return result.ok() && result.value() == value;
    }

private:
    std::variant<T, E> m_outcome;
};

// Success, or the error of a failure.
template<typename E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(E error)
        : m_error(std::move(error))
    {
    }

    bool ok() const { return !m_error; }
    explicit operator bool() const { return ok(); }
    E const& error() const { return *m_error; }

private:
    std::optional<E> m_error;
};

}
