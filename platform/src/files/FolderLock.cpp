#include "platform/files/FolderLock.h"

#include "fileio/Locks.h"
#include "platform/Error.h"

#include <cerrno>

namespace platform {

bool FolderLock::lock(const std::string& folder, const std::string& source) {
    m_fd = fileio::lockFolder(folder, true);
    if (!m_fd && errno != EWOULDBLOCK) {
        throw systemError(errno, source, folder);
    }
    return static_cast<bool>(m_fd);
}

std::optional<FolderLock> FolderLock::takeIfFree(const std::string& folder,
                                                 const std::string& source) {
    FolderLock taken;
    if (!taken.lock(folder, source)) {
        return std::nullopt;
    }
    return taken;
}

} // namespace platform
