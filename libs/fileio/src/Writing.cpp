#include "fileio/Writing.h"

#include "fileio/Names.h"

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

int copyFromFile(int from, off_t offset, int to, const void* sameBytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t copied = systemCalls().copyFileRange(from, &offset, to, size - done);
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                           errno == EOPNOTSUPP || errno == EBADF)) {
            break;
        }
        if (copied < 0) {
            return errno;
        }
        if (copied == 0) {
            // The source ends early: the bytes the caller holds are the ones meant.
            break;
        }
        done += static_cast<std::size_t>(copied);
    }
    return writeAll(to, static_cast<const char*>(sameBytes) + done, size - done);
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

int replaceFile(const std::string& path, std::string_view data, mode_t mode) {
    const std::string written = path + ".new";
    int error = 0;
    {
        const UniqueFd file =
            openFile(written, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
        error = !file ? errno : writeAll(file.get(), data);
        if (error == 0) {
            error = syncFile(file.get());
        }
    }
    if (error == 0) {
        error = renameName(written, path);
    }
    if (error == 0) {
        const std::size_t slash = path.rfind('/');
        error = syncFolder(slash == std::string::npos ? "." : path.substr(0, slash));
    }
    if (error != 0) {
        (void)removeFile(written);
    }
    return error;
}

} // namespace fileio
