#include "fileio/Writing.h"

#include <cerrno>
#include <fcntl.h>

namespace fileio {

UniqueFd openFile(const std::string& path, int flags, mode_t mode) {
    return UniqueFd(systemCalls().open(path.c_str(), flags, mode));
}

UniqueFd openFileAt(int folder, const std::string& name, int flags, mode_t mode) {
    return UniqueFd(systemCalls().openat(folder, name.c_str(), flags, mode));
}

int writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = systemCalls().write(fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : ENOSPC;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

int syncFile(int fd) {
    return systemCalls().fsync(fd) == 0 ? 0 : errno;
}

int appendToFile(const std::string& path, std::string_view data, mode_t mode) {
    UniqueFd file = openFile(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode);
    if (!file) {
        return errno;
    }
    const int writeError = writeAll(file.get(), data);
    if (!file.close() && writeError == 0) {
        return errno;
    }
    return writeError;
}

} // namespace fileio
