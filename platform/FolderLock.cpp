#include "platform/FolderLock.h"

#include "platform/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace platform {

FolderLock::FolderLock(const std::string& folder, const std::string& source,
                       const std::string& busyText) {
    m_fd.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_fd) {
        throw systemError(errno, source, folder);
    }
    int result = 0;
    do {
        result = ::flock(m_fd.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        return;
    }
    if (errno == EWOULDBLOCK) {
        throw Error(ErrorNumber::pathFileAccess, source, busyText);
    }
    throw systemError(errno, source, folder);
}

} // namespace platform
