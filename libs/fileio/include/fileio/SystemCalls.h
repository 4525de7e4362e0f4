#pragma once

// The seam between file writing and the system. Every open, write, sync and
// close this module makes (and every close of a fileio::UniqueFd) goes
// through the calls in force, which are the system's own unless a test has
// put others in their place, for instance a write that fails with ENOSPC or
// EIO after so many bytes, or a close that reports a delayed write error.
// No root, no mount namespace, no full disk needed.
//
// The case rule of the program (see text/LetterCase.h): names are compared
// after folding every code point to upper then to lower case, by Unicode's
// tables whatever the process's locale; stray bytes match only themselves.

#include <cstddef>
#include <functional>
#include <memory>
#include <sys/types.h>

namespace fileio {

// Each call behaves as its system namesake: a result below zero is a failure
// with errno set.
struct SystemCalls {
    std::function<int(const char* path, int flags, mode_t mode)> open;
    std::function<int(int folder, const char* name, int flags, mode_t mode)> openat;
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    std::function<int(int fd)> fsync;
    std::function<int(int fd)> close;
};

// The system's own calls.
SystemCalls realSystemCalls();

// The calls in force.
const SystemCalls& systemCalls();

// Puts other calls in force for as long as it lives, then the earlier ones
// again. For tests; not while another thread writes files.
class ReplacedSystemCalls {
public:
    explicit ReplacedSystemCalls(SystemCalls calls);
    ~ReplacedSystemCalls();

private:
    // Owned alone, so that the guard can be neither copied nor moved.
    std::unique_ptr<SystemCalls> m_previous;
};

} // namespace fileio
