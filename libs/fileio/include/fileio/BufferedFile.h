#pragma once

// A file written through a buffer of our own, for callers that write many
// small pieces: one system call per buffer instead of one per piece. Every
// byte handed to write reaches the file when it is flushed, closed or
// destroyed, and also when the program ends at once without running any
// destructor: such an end calls flushOpenFiles first, the way the C library
// flushes its streams. All system calls go through fileio/SystemCalls.h.

#include "fileio/UniqueFd.h"

#include <cstddef>
#include <sys/types.h>
#include <vector>

namespace fileio {

class BufferedFile {
public:
    // Takes the descriptor; capacity is the most it holds back.
    BufferedFile(UniqueFd fd, std::size_t capacity);
    // Flushes (a failure is dropped: nobody is left to hear it) and closes.
    ~BufferedFile();
    // Listed by address for flushOpenFiles: neither copied nor moved.
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    // Appends size bytes. Returns 0 or the errno value of a failed flush;
    // after a failure the bytes held back are dropped and every later call
    // reports the same failure.
    [[nodiscard]] int write(const void* data, std::size_t size);
    // Appends size bytes of the file from at offset, which sameBytes holds
    // too, with the kernel's copy (see copyFromFile). 0 or the errno value.
    [[nodiscard]] int copyFrom(int from, off_t offset, const void* sameBytes, std::size_t size);
    // Hands what is held back to the system. 0 or the errno value.
    [[nodiscard]] int flush();
    // Flushes and closes; the first failure's errno value, or 0.
    [[nodiscard]] int close();

private:
    int writeThrough(const void* data, std::size_t size);

    UniqueFd m_fd;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
    int m_failure = 0;
};

// Flushes every BufferedFile still open, ignoring failures. For the
// program's immediate end; on the thread that writes the files.
void flushOpenFiles();

} // namespace fileio
