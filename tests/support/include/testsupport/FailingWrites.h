#pragma once

#include "fileio/SystemCalls.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <unistd.h>
#include <utility>

namespace testsupport {

// The file a descriptor is open on, as the system names it.
inline std::string openFilePath(int fd) {
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length < 0 ? std::string() : std::string(target, static_cast<std::size_t>(length));
}

// While it lives, the file at path (or, for a folder, every file below it)
// takes `room` bytes more in all and then every write to it fails with
// `error` (ENOSPC for a full disk, EIO for a failing one); other files are
// written as usual. Optionally its close fails too.
class FailingWrites {
public:
    FailingWrites(std::string path, int error, std::size_t room = 0, int closeError = 0)
        : m_path(std::filesystem::weakly_canonical(path)),
          m_replaced(calls(error, room, closeError)) {}

    std::size_t failedWrites() const {
        const std::lock_guard lock(m_mutex);
        return m_failed;
    }

private:
    bool isTarget(int fd) const {
        const std::string path = openFilePath(fd);
        return path == m_path || path.starts_with(m_path + "/");
    }

    fileio::SystemCalls calls(int error, std::size_t room, int closeError) {
        fileio::SystemCalls calls = fileio::realSystemCalls();
        const auto realWrite = calls.write;
        const auto realClose = calls.close;
        calls.write = [this, realWrite, error, room](int fd, const void* data,
                                                     std::size_t size) -> ssize_t {
            if (!isTarget(fd)) {
                return realWrite(fd, data, size);
            }
            // Files may be written on several threads at once.
            const std::lock_guard lock(m_mutex);
            const std::size_t left = room - std::min(room, m_taken);
            if (left == 0) {
                ++m_failed;
                errno = error;
                return -1;
            }
            const ssize_t written = realWrite(fd, data, std::min(size, left));
            m_taken += written > 0 ? static_cast<std::size_t>(written) : 0;
            return written;
        };
        // The kernel's copy into such a file is refused as between file
        // systems, so that its bytes come through write.
        const auto realCopy = calls.copyFileRange;
        calls.copyFileRange = [this, realCopy](int in, off_t* inOffset, int out,
                                               std::size_t size) -> ssize_t {
            if (isTarget(out)) {
                errno = EXDEV;
                return -1;
            }
            return realCopy(in, inOffset, out, size);
        };
        if (closeError != 0) {
            calls.close = [this, realClose, closeError](int fd) {
                const bool target = isTarget(fd);
                const int result = realClose(fd);
                if (target) {
                    errno = closeError;
                    return -1;
                }
                return result;
            };
        }
        return calls;
    }

    std::string m_path;
    mutable std::mutex m_mutex;
    std::size_t m_taken = 0;
    std::size_t m_failed = 0;
    fileio::ReplacedSystemCalls m_replaced;
};

} // namespace testsupport
