#pragma once

#include "failure.h"

#include <optional>
#include <utility>

namespace Printer {

// A value, or the failure that came instead of it: what the printer link and the commands
// built on it return, so that a failure keeps its kind and reason up to the user.
template<typename T>
class [[nodiscard]] Result
{
public:
    using Value = T;

    Result(T value)
        : m_value(std::move(value))
    {}
    Result(Failure failure)
        : m_failure(std::move(failure))
    {}

    bool ok() const { return m_value.has_value(); }
    const T &value() const { return *m_value; }
    T &value() { return *m_value; }
    const Failure &failure() const { return m_failure; }

private:
    std::optional<T> m_value;
    Failure m_failure;
};

// A step that makes nothing: done, or the failure.
template<>
class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure)
        : m_failure(std::move(failure))
        , m_failed(true)
    {}

    bool ok() const { return !m_failed; }
    const Failure &failure() const { return m_failure; }

private:
    Failure m_failure;
    bool m_failed = false;
};

} // namespace Printer
