#pragma once

// The seam between file writing and the system. Every open, write, sync and
// close this module makes (and every close of a fileio::UniqueFd), and every
// name it links, renames, removes or makes (fileio/Names.h), goes through the
// calls in force, which are the system's own unless a test has put others in
// their place: a write that fails with ENOSPC or EIO after so many bytes, a
// close that reports a delayed write error, a link the file system refuses,
// or a recorder that sees every change and sync a power cut would cut short;
// and the free space that the room checks before the work read (fileio/Room.h);
// and the opening of an entry below a folder without following links
// (fileio/Beneath.h), which a test can make as old kernels have it.
// No root, no mount namespace, no full disk needed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <sys/statvfs.h>
#include <sys/types.h>

namespace fileio {

// Each call behaves as its system namesake: a result below zero is a failure
// with errno set.
struct SystemCalls {
    std::function<int(const char* path, int flags, mode_t mode)> open;
    std::function<int(int folder, const char* name, int flags, mode_t mode)> openat;
    // openat2(2) with the given resolve flags (RESOLVE_*) and no mode.
    std::function<int(int folder, const char* name, int flags, std::uint64_t resolve)> openat2;
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    // copy_file_range(2) from in at *inOffset to out at its position.
    std::function<ssize_t(int in, off_t* inOffset, int out, std::size_t size)> copyFileRange;
    std::function<int(int fd)> fsync;
    std::function<int(int fd)> syncfs;
    std::function<int(int fd)> close;
    std::function<int(int fromFolder, const char* from, int toFolder, const char* to, int flags)>
        linkat;
    std::function<int(int fromFolder, const char* from, int toFolder, const char* to)> renameat;
    std::function<int(int folder, const char* name, int flags)> unlinkat;
    std::function<int(int folder, const char* name, mode_t mode)> mkdirat;
    std::function<int(const char* path, struct statvfs* status)> statvfs;
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
