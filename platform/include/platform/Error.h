#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace platform {

// How the platform fails, everywhere: a service that cannot do what it was
// asked raises Error with its number, source and description; above it the
// program's parts hand failures on as values (the app's Outcome), mapping a
// raised Error once, where a stage cannot go on.

// The run-time error numbers the program raises and reports. Each classic
// number has its standard description in Error.cpp, whose switch names every
// one of them, so that a number added here without a text does not build.
struct ErrorNumber {
    // By kind: calls and arithmetic, files and paths, libraries, properties.
    // clang-format off
    enum Classic : int32_t {
        invalidCall = 5, overflow = 6, subscriptOutOfRange = 9, divisionByZero = 11,
        fileNotFound = 53, fileAlreadyExists = 58, diskFull = 61, permissionDenied = 70,
        pathFileAccess = 75,
        pathNotFound = 76,
        dllLoad = 48, dllEntryPoint = 453,
        invalidPropertyValue = 380,
    };
    // clang-format on
    // Errors defined by the program's own objects start here.
    static constexpr int32_t objectDefinedBase = static_cast<int32_t>(0x80040000u);
};

// One failure: a number, where it was raised, and what went wrong.
class Error : public std::exception {
public:
    Error(int32_t number, std::string source, std::string description);

    int32_t number() const noexcept { return m_number; }
    const std::string& source() const noexcept { return m_source; }
    const std::string& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_description.c_str(); }

    // The same failure re-raised by a handler that puts its own source.
    Error withSource(std::string source) const;

private:
    int32_t m_number;
    std::string m_source;
    std::string m_description;
};

// An error with the standard description, followed by ": " and the detail
// when one is given.
Error makeError(int32_t number, const std::string& source, const std::string& detail = {});

[[noreturn]] void raiseError(int32_t number, const std::string& source,
                             const std::string& detail = {});

// Runs call and gives back what it returns. A failure that leaves it is raised
// again with source as its source: an Error keeps its number and
// description, any other exception becomes error 5 with its text.
template <typename Call> decltype(auto) withOwnSource(const std::string& source, Call&& call) {
    try {
        return call();
    } catch (const Error& failure) {
        throw failure.withSource(source);
    } catch (const std::exception& failure) {
        throw Error(ErrorNumber::invalidCall, source, failure.what());
    }
}

// Runs step and drops a failure it raises, for the operations that skip a
// failing step and go on with the next.
template <typename Step> void skipOnFailure(Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
        // The step-by-step style: the failing step is dropped, the next runs.
    }
}

// The error for a failed system call, picked from errno, with the path and
// the system's reason as detail.
Error systemError(int errnoValue, const std::string& source, const std::string& path);

} // namespace platform
