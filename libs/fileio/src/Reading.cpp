#include "fileio/Reading.h"

#include "fileio/UniqueFd.h"
#include "fileio/Writing.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fileio {

int readAt(int fd, void* data, std::size_t size, off_t offset, std::size_t& got) {
    auto* bytes = static_cast<char*>(data);
    got = 0;
    while (got < size) {
        const ssize_t read = ::pread(fd, bytes + got, size - got, offset + static_cast<off_t>(got));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read < 0) {
            return errno;
        }
        if (read == 0) {
            break;
        }
        got += static_cast<std::size_t>(read);
    }
    return 0;
}

int readWholeFile(const std::string& path, std::string& content) {
    content.clear();
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        return errno;
    }
    return readToEnd(file.get(), content);
}

int readToEnd(int fd, std::string& content) {
    content.clear();
    char buffer[64 * 1024];
    for (ssize_t got; (got = readSome(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            return errno;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return 0;
}

ssize_t readSome(int fd, void* data, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, data, size);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

UniqueFd openRegularFile(const std::string& path, struct stat& status, LastLink lastLink) {
    status = {};
    UniqueFd fd = openFile(path,
                           O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY |
                               (lastLink == LastLink::refuse ? O_NOFOLLOW : 0),
                           0);
    if (!fd) {
        return fd;
    }
    if (::fstat(fd.get(), &status) != 0) {
        const int error = errno;
        status = {};
        fd.reset();
        errno = error;
        return fd;
    }
    if (!S_ISREG(status.st_mode)) {
        fd.reset();
        errno = EINVAL;
        return fd;
    }
    // Reads of a regular file do not wait anyway; none is asked not to.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags != -1) {
        (void)::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

const char* notAFileKind(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    return "a device";
}

} // namespace fileio
