#include "app/PackageFile.h"

#include "platform/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

PackageFile::PackageFile(const std::string& path, const std::string& source)
    : m_path(path), m_source(source) {
    // Emptied at once: a file left by an earlier run never lends its tail to
    // this one, not even when the program is ended in the middle. A link in
    // its place is refused, never written through.
    m_fd.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!m_fd) {
        throw platform::systemError(errno, m_source, m_path);
    }
}

void PackageFile::write(const std::uint8_t* data, std::size_t size) {
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(m_fd.get(), data + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw platform::systemError(n < 0 ? errno : ENOSPC, m_source, m_path);
        }
        written += static_cast<std::size_t>(n);
    }
}

void PackageFile::close() {
    if (!m_fd.close()) {
        throw platform::systemError(errno, m_source, m_path);
    }
}
