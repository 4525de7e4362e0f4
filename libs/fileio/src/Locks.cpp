#include "fileio/Locks.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace fileio {

UniqueFd lockFolder(const std::string& path, bool followLinks) {
    UniqueFd folder(
        ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW)));
    if (!folder) {
        return folder;
    }
    int result = 0;
    do {
        result = ::flock(folder.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        folder.reset();
        errno = error;
    }
    return folder;
}

} // namespace fileio
