#include "app/PackageFile.h"

#include "fileio/Writing.h"
#include "platform/Error.h"

#include <cerrno>
#include <fcntl.h>

PackageFile::PackageFile(const std::string& path, const std::string& source)
    : m_path(path), m_source(source) {
    // Emptied at once: a file left by an earlier run never lends its tail to
    // this one, not even when the program is ended in the middle.
    m_fd = fileio::openFile(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (!m_fd) {
        throw platform::systemError(errno, m_source, m_path);
    }
}

void PackageFile::write(const std::uint8_t* data, std::size_t size) {
    if (const int error = fileio::writeAll(m_fd.get(), data, size)) {
        throw platform::systemError(error, m_source, m_path);
    }
}

void PackageFile::close() {
    if (!m_fd.close()) {
        throw platform::systemError(errno, m_source, m_path);
    }
}
