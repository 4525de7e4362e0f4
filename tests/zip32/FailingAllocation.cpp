#include "FailingAllocation.h"

#include <cstddef>
#include <dlfcn.h>
#include <new>
#include <string_view>
#include <utility>

namespace {

// The file this thread holds open whose opening set the next allocation up
// to fail; -1 when there is none.
thread_local int failingAfter = -1;

using Allocation = void* (*)(std::size_t);

// The allocation function one here stands in front of, found by its
// symbol's name: the sanitizer's in a sanitized build, the C++ library's
// otherwise.
Allocation following(const char* symbol) {
    return reinterpret_cast<Allocation>(::dlsym(RTLD_NEXT, symbol));
}

// The next allocation fails once a file set it up; otherwise next does it.
void* allocate(std::size_t size, Allocation next) {
    if (failingAfter >= 0) {
        failingAfter = -1;
        throw std::bad_alloc();
    }
    return next(size);
}

} // namespace

void* operator new(std::size_t size) {
    static const Allocation next = following("_Znwm");
    return allocate(size, next);
}

// Arrays too: the sanitizer's own operator new[] does not pass through the
// one above, as the C++ library's does.
void* operator new[](std::size_t size) {
    static const Allocation next = following("_Znam");
    return allocate(size, next);
}

namespace zip32test {

FailingAllocation::FailingAllocation(std::string pathEnd) : m_replaced(calls(std::move(pathEnd))) {}

// A file the library failed to close leaves no failure set up for later tests.
FailingAllocation::~FailingAllocation() {
    failingAfter = -1;
}

fileio::SystemCalls FailingAllocation::calls(std::string pathEnd) {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const auto realOpen = calls.open;
    const auto realClose = calls.close;
    calls.open = [realOpen, pathEnd](const char* path, int flags, mode_t mode) {
        const int fd = realOpen(path, flags, mode);
        if (fd >= 0 && std::string_view(path).ends_with(pathEnd)) {
            failingAfter = fd;
        }
        return fd;
    };
    calls.close = [realClose](int fd) {
        if (fd == failingAfter) {
            failingAfter = -1;
        }
        return realClose(fd);
    };
    return calls;
}

} // namespace zip32test
