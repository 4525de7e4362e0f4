#pragma once

// Reading files: every byte asked for or the end of the file, a read
// interrupted by a signal taken up again. Reads are not part of the seam of
// fileio/SystemCalls.h: no test needs them to fail.

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace fileio {

// Reads up to size bytes from offset on into data and sets got to the number
// read, which is less than size only at the end of the file. Returns 0 or
// the errno value of the failure.
[[nodiscard]] int readAt(int fd, void* data, std::size_t size, off_t offset, std::size_t& got);

// Reads the whole file at path into content. Returns 0 or the errno value.
[[nodiscard]] int readWholeFile(const std::string& path, std::string& content);

// One read(2) from the file's position, taken up again when a signal
// interrupts it: the bytes read (0 at the end), or -1 with errno set.
[[nodiscard]] ssize_t readSome(int fd, void* data, std::size_t size);

} // namespace fileio
