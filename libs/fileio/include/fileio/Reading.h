#pragma once

// Reading files: every byte asked for or the end of the file, a read
// interrupted by a signal taken up again. Reads are not part of the seam of
// fileio/SystemCalls.h: no test needs them to fail.

#include "fileio/UniqueFd.h"

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace fileio {

// Reads up to size bytes from offset on into data and sets got to the number
// read, which is less than size only at the end of the file. Returns 0 or
// the errno value of the failure.
[[nodiscard]] int readAt(int fd, void* data, std::size_t size, off_t offset, std::size_t& got);

// Reads the whole file at path into content. Returns 0 or the errno value.
[[nodiscard]] int readWholeFile(const std::string& path, std::string& content);

// Reads the open file from its position to its end into content. Returns 0
// or the errno value.
[[nodiscard]] int readToEnd(int fd, std::string& content);

// One read(2) from the file's position, taken up again when a signal
// interrupts it: the bytes read (0 at the end), or -1 with errno set.
[[nodiscard]] ssize_t readSome(int fd, void* data, std::size_t size);

// Whether an open follows a symbolic link in the last place of the path or
// refuses it (ELOOP).
enum class LastLink { follow, refuse };

// Opens a regular file to read without waiting for anything: a FIFO put in
// its place would wait for a writer for ever, a device for its medium. The
// open goes through the seam (fileio/SystemCalls.h). Gives the descriptor
// with status filled from it, or an empty one with errno set; a path that
// is no regular file is closed at once and gives EINVAL, with status saying
// what it is (st_mode is 0 after any other failure).
[[nodiscard]] UniqueFd openRegularFile(const std::string& path, struct stat& status,
                                       LastLink lastLink = LastLink::follow);

// What a path that is no regular file is, for a message: "a folder", "a
// FIFO", "a socket", "a symbolic link" or "a device".
const char* notAFileKind(mode_t mode);

} // namespace fileio
