#pragma once
// A value or the reason there is none. C++20 has no std::expected; this is the small part of it we use.

#include <string>
#include <utility>
#include <variant>

namespace plat {

struct Error {
    int code = 0;        // the service's own status code (see the service's header)
    std::string detail;  // one line for a person: what failed, where, why
};

template <class T>
class Result {
public:
    Result(T value) : m_state(std::move(value)) {}  // NOLINT: implicit on purpose, like expected
    Result(Error error) : m_state(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<T>(m_state); }
    const T& value() const& { return std::get<T>(m_state); }
    T&& value() && { return std::get<T>(std::move(m_state)); }
    T* operator->() { return &value(); }
    T& operator*() & { return value(); }

    const Error& error() const { return std::get<Error>(m_state); }

private:
    std::variant<T, Error> m_state;
};

}  // namespace plat
