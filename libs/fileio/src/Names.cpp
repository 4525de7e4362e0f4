#include "fileio/Names.h"

#include "fileio/SystemCalls.h"
#include "fileio/UniqueFd.h"
#include "fileio/Writing.h"

#include <cerrno>
#include <fcntl.h>

namespace fileio {
namespace {

int result(int returned) {
    return returned == 0 ? 0 : errno;
}

} // namespace

int linkName(const std::string& existing, const std::string& name) {
    return result(systemCalls().linkat(AT_FDCWD, existing.c_str(), AT_FDCWD, name.c_str(), 0));
}

int linkDescriptor(int fd, const std::string& name) {
    const std::string handle = "/proc/self/fd/" + std::to_string(fd);
    return result(
        systemCalls().linkat(AT_FDCWD, handle.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW));
}

int renameName(const std::string& from, const std::string& to) {
    return renameNameAt(AT_FDCWD, from, AT_FDCWD, to);
}

int renameNameAt(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    return result(systemCalls().renameat(fromFolder, from.c_str(), toFolder, to.c_str()));
}

int removeName(int folder, const std::string& name, int flags) {
    return result(systemCalls().unlinkat(folder, name.c_str(), flags));
}

int removeFile(const std::string& path) {
    return removeName(AT_FDCWD, path, 0);
}

int removeFolder(const std::string& path) {
    return removeName(AT_FDCWD, path, AT_REMOVEDIR);
}

int makeFolder(const std::string& path, mode_t mode) {
    return result(systemCalls().mkdirat(AT_FDCWD, path.c_str(), mode));
}

int syncFolder(const std::string& path) {
    UniqueFd folder = openFile(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (!folder) {
        return errno;
    }
    const int error = syncFile(folder.get());
    if (!folder.close() && error == 0) {
        return errno;
    }
    return error;
}

int syncFileSystem(const std::string& path) {
    UniqueFd any = openFile(path, O_RDONLY | O_CLOEXEC, 0);
    if (!any) {
        return errno;
    }
    const int error = systemCalls().syncfs(any.get()) == 0 ? 0 : errno;
    if (!any.close() && error == 0) {
        return errno;
    }
    return error;
}

} // namespace fileio
