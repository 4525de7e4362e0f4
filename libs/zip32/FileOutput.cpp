#include "FileOutput.h"

#include <cerrno>
#include <unistd.h>

namespace zip32 {

int writeAll(int fd, const void* data, std::size_t length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : ENOSPC;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return 0;
}

} // namespace zip32
