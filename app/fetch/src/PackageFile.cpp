#include "PackageFile.h"

#include "fileio/Writing.h"
#include "platform/Error.h"

#include <cerrno>
#include <fcntl.h>

namespace updater {

namespace {

// Few system calls for the whole package, and little held back: a kill
// loses what is held, and the next run asks for it again.
constexpr std::size_t heldBack = 64 * 1024;

fileio::UniqueFd openPackage(const std::string& path, const std::string& source,
                             PackageFile::Opening opening) {
    // Emptied at once: a file left by an earlier run never lends its tail to
    // this one, not even when the program is ended in the middle; only a
    // part the download chose to go on from is kept. A link in its place is
    // refused, never written through.
    const int flags = opening == PackageFile::Opening::empty ? O_CREAT | O_TRUNC : O_APPEND;
    fileio::UniqueFd fd = fileio::openFile(path, O_WRONLY | flags | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (!fd) {
        throw platform::systemError(errno, source, path);
    }
    return fd;
}

} // namespace

PackageFile::PackageFile(const std::string& path, const std::string& source, Opening opening)
    : m_path(path), m_source(source), m_file(openPackage(path, source, opening), heldBack) {}

void PackageFile::write(const std::uint8_t* data, std::size_t size) {
    check(m_file.write(data, size));
}

void PackageFile::close() {
    check(m_file.close());
}

void PackageFile::check(int error) const {
    if (error != 0) {
        throw platform::systemError(error, m_source, m_path);
    }
}

} // namespace updater
