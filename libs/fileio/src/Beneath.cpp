#include "fileio/Beneath.h"

#include "fileio/Writing.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string>
#include <sys/stat.h>

namespace fileio {

namespace {

// Opened for its place only: it neither blocks on a FIFO nor follows a link
// at the end, which it gives as the link itself.
constexpr int placeOnly = O_PATH | O_NOFOLLOW | O_CLOEXEC;

// The kernel, or a container's filter of calls, has no openat2.
bool withoutOpenat2(int error) {
    return error == ENOSYS || error == EPERM;
}

// False with errno set when what is open on fd is a link or no folder.
bool isFolder(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        errno = S_ISLNK(status.st_mode) ? ELOOP : ENOTDIR;
        return false;
    }
    return true;
}

// One piece at a time, each looked at before the next is opened in it.
UniqueFd walk(int folder, std::string_view path) {
    UniqueFd current;
    int at = folder;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        UniqueFd next = openFileAt(at, std::string(path.substr(start, end - start)), placeOnly, 0);
        if (!next || !isFolder(next.get())) {
            return {};
        }
        current = std::move(next);
        at = current.get();
        start = end + 1;
    }
    return current;
}

} // namespace

bool directBelow(std::string_view path) {
    if (path.empty() || path.front() == '/') {
        return false;
    }
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view piece = path.substr(start, end - start);
        if (piece.empty() || piece == "." || piece == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

UniqueFd openFolderBeneath(int folder, std::string_view path) {
    if (path.empty()) {
        return openFileAt(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    }
    if (!directBelow(path)) {
        errno = EXDEV;
        return {};
    }
    UniqueFd place(systemCalls().openat2(folder, std::string(path).c_str(), placeOnly,
                                         RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS));
    if (!place && withoutOpenat2(errno)) {
        place = walk(folder, path);
    }
    if (!place || !isFolder(place.get())) {
        return {};
    }
    return openFileAt(place.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
}

} // namespace fileio
