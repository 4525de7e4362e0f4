#include "platform/files/FolderLock.h"

#include "platform/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace platform {

int FolderLock::lock(const std::string& folder, const std::string& source) {
    m_fd.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_fd) {
        throw systemError(errno, source, folder);
    }
    int result = 0;
    do {
        result = ::flock(m_fd.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

FolderLock::FolderLock(const std::string& folder, const std::string& source,
                       const std::string& busyText) {
    const int error = lock(folder, source);
    if (error == EWOULDBLOCK) {
        throw Error(ErrorNumber::pathFileAccess, source, busyText);
    }
    if (error != 0) {
        throw systemError(error, source, folder);
    }
}

std::optional<FolderLock> FolderLock::takeIfFree(const std::string& folder,
                                                 const std::string& source) {
    FolderLock taken;
    const int error = taken.lock(folder, source);
    if (error == EWOULDBLOCK) {
        return std::nullopt;
    }
    if (error != 0) {
        throw systemError(error, source, folder);
    }
    return taken;
}

} // namespace platform
