#pragma once

#include "platform/Error.h"

#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace updater {

// Why an operation did not come to its value: the program's one error type
// (its number, source and text), and whether the user has been told already
// (a box shown, the log written), so that whoever maps it tells nobody twice.
struct Failure {
    platform::Error error;
    bool told = false;
};

// A failure caught as an exception: an Error as it is, anything else error
// 5 with its text and the given source.
inline Failure failureOf(const std::exception& caught, const std::string& source, bool told) {
    if (const auto* error = dynamic_cast<const platform::Error*>(&caught)) {
        return {*error, told};
    }
    return {platform::Error(platform::ErrorNumber::invalidCall, source, caught.what()), told};
}

// What an operation a stage, the run or the window calls across a file's
// boundary comes to: its value, or the failure that stopped it. A failure
// that can be foreseen travels this way; an exception is left only where a
// stage cannot go on, and the run maps it into a Failure in one place.
template <typename T> class [[nodiscard]] Outcome {
public:
    Outcome(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Outcome(Failure failure) : m_state(std::in_place_index<1>, std::move(failure)) {}

    explicit operator bool() const { return m_state.index() == 0; }
    const T& value() const { return std::get<0>(m_state); }
    T& value() { return std::get<0>(m_state); }
    const Failure& failure() const { return std::get<1>(m_state); }

private:
    std::variant<T, Failure> m_state;
};

// An operation that brings no value: done, or the failure.
template <> class [[nodiscard]] Outcome<void> {
public:
    Outcome() = default;
    Outcome(Failure failure) : m_failure(std::move(failure)) {}

    explicit operator bool() const { return !m_failure; }
    const Failure& failure() const { return *m_failure; }
    Failure& failure() { return *m_failure; }

private:
    std::optional<Failure> m_failure;
};

} // namespace updater
