#pragma once

// Writing files, one way for the whole program and both zip libraries: every
// byte or an error, a write interrupted by a signal taken up again, and the
// failure given as the errno value for the caller to report in its own terms
// (0 means success). All system calls go through fileio/SystemCalls.h.

#include "fileio/UniqueFd.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace fileio {

// Opens with the given open(2) flags and mode; an empty UniqueFd with errno
// set on failure.
UniqueFd openFile(const std::string& path, int flags, mode_t mode);
UniqueFd openFileAt(int folder, const std::string& name, int flags, mode_t mode);

// Writes all size bytes. A write that takes no byte counts as a full disk
// (ENOSPC). Returns 0 or the errno value of the failure.
[[nodiscard]] int writeAll(int fd, const void* data, std::size_t size);
[[nodiscard]] inline int writeAll(int fd, std::string_view data) {
    return writeAll(fd, data.data(), data.size());
}

// Appends size bytes of the file from, from offset on, to the file to at its
// position, with the kernel's copy (which shares the blocks where the file
// system can); where the kernel cannot copy between the two, writes
// sameBytes, the caller's copy of those bytes, instead. Returns 0 or the
// errno value of the failure.
[[nodiscard]] int copyFromFile(int from, off_t offset, int to, const void* sameBytes,
                               std::size_t size);

// Flushes the file's content to the disk. Returns 0 or the errno value.
[[nodiscard]] int syncFile(int fd);

// Appends data to the file, created with mode when missing, and closes it:
// the file is open only during the call. The first failure's errno value,
// or 0.
[[nodiscard]] int appendToFile(const std::string& path, std::string_view data, mode_t mode);

// Replaces the file at path by one holding data, with mode: written beside
// it (path + ".new"), flushed, renamed over it and its folder flushed, so
// that a cut leaves the old file or the new one, whole. The first
// failure's errno value (the file beside then removed), or 0.
[[nodiscard]] int replaceFile(const std::string& path, std::string_view data, mode_t mode);

} // namespace fileio
