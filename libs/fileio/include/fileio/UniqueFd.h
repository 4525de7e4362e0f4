#pragma once

// Ownership of one file descriptor, closed on every way out through the
// system-call seam (fileio/SystemCalls.h), so that a test can make a close
// fail the way a delayed write error does.
//
// The case rule of the program (see text/LetterCase.h): names are compared
// after folding every code point to upper then to lower case, by Unicode's
// tables whatever the process's locale; stray bytes match only themselves.

#include "fileio/SystemCalls.h"

#include <unistd.h> // the calls a descriptor is used with
#include <utility>

namespace fileio {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.m_fd, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

    void reset(int fd = -1) {
        if (m_fd >= 0) {
            systemCalls().close(m_fd);
        }
        m_fd = fd;
    }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_fd, -1); }
    // Closes now and reports whether the system accepted the close, which is
    // where a delayed write error may show; errno tells the reason.
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || systemCalls().close(fd) == 0;
    }

private:
    int m_fd = -1;
};

} // namespace fileio
