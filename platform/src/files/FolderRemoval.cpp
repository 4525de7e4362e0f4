#include "files/FolderRemoval.h"

#include "fileio/Names.h"
#include "fileio/UniqueFd.h"
#include "platform/Error.h"
#include "platform/files/FolderListing.h"
#include "platform/files/PathText.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace platform {
namespace {

struct Entry {
    std::string name;
    struct stat status;
};

class TreeWalk {
public:
    TreeWalk(bool force, std::string source, dev_t device)
        : m_force(force), m_source(std::move(source)), m_device(device) {}

    // Raises the first reason the tree cannot be removed, touching nothing
    // but permission bits (and those only with force).
    void check(int parent, const std::string& name, const std::string& path,
               const struct stat& status) {
        checkFolder(parent, name, path, status);
        const fileio::UniqueFd folder = openFolder(parent, name, path);
        for (const Entry& entry : entries(folder.get(), path)) {
            const std::string child = joinPath(path, entry.name);
            if (S_ISDIR(entry.status.st_mode)) {
                check(folder.get(), entry.name, child, entry.status);
            } else if (S_ISREG(entry.status.st_mode) && !m_force &&
                       (entry.status.st_mode & S_IWUSR) == 0) {
                raiseError(ErrorNumber::permissionDenied, m_source, child + " is read-only");
            }
        }
    }

    void remove(int parent, const std::string& name, const std::string& path) {
        {
            const fileio::UniqueFd folder = openFolder(parent, name, path);
            for (const Entry& entry : entries(folder.get(), path)) {
                const std::string child = joinPath(path, entry.name);
                if (S_ISDIR(entry.status.st_mode)) {
                    remove(folder.get(), entry.name, child);
                } else if (const int error = fileio::removeName(folder.get(), entry.name, 0)) {
                    throw systemError(error, m_source, child);
                }
            }
        }
        if (const int error = fileio::removeName(parent, name, AT_REMOVEDIR)) {
            throw systemError(error, m_source, path);
        }
    }

private:
    void checkFolder(int parent, const std::string& name, const std::string& path,
                     const struct stat& status) {
        if (status.st_dev != m_device) {
            raiseError(ErrorNumber::pathFileAccess, m_source,
                       path + " holds another mounted file system");
        }
        if ((status.st_mode & S_IRWXU) == S_IRWXU) {
            return;
        }
        if (!m_force && (status.st_mode & S_IWUSR) == 0) {
            raiseError(ErrorNumber::permissionDenied, m_source, path + " is read-only");
        }
        // Listing and emptying a folder needs all three owner bits.
        if (fchmodat(parent, name.c_str(), (status.st_mode & 07777) | S_IRWXU, 0) != 0) {
            throw systemError(errno, m_source, path);
        }
    }

    fileio::UniqueFd openFolder(int parent, const std::string& name, const std::string& path) {
        fileio::UniqueFd folder(
            openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder) {
            throw systemError(errno, m_source, path);
        }
        return folder;
    }

    std::vector<Entry> entries(int folder, const std::string& path) {
        const auto names = folderEntries(folder);
        if (!names) {
            throw systemError(errno, m_source, path);
        }
        std::vector<Entry> result;
        for (const std::string& name : *names) {
            Entry entry{name, {}};
            if (fstatat(folder, name.c_str(), &entry.status, AT_SYMLINK_NOFOLLOW) != 0) {
                throw systemError(errno, m_source, joinPath(path, name));
            }
            result.push_back(std::move(entry));
        }
        return result;
    }

    bool m_force;
    std::string m_source;
    dev_t m_device;
};

} // namespace

void removeFolderTree(const std::string& path, bool force, const std::string& source) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        raiseError(ErrorNumber::pathNotFound, source, path);
    }
    // The canonical path, so that the folder's parent and name are its own
    // even for a path ending in "..".
    const std::unique_ptr<char, decltype(&free)> canonical(realpath(path.c_str(), nullptr), &free);
    if (!canonical) {
        throw systemError(errno, source, path);
    }
    const std::string folder = canonical.get();
    if (folder == "/") {
        raiseError(ErrorNumber::permissionDenied, source, folder);
    }
    const std::string parentPath = folderOf(folder);
    const fileio::UniqueFd parent(open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent) {
        throw systemError(errno, source, parentPath);
    }
    // Without the right to change the parent the folder itself would stay
    // behind after its contents had gone.
    if (faccessat(parent.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        throw systemError(errno, source, parentPath);
    }
    const std::string name = nameOf(folder);
    TreeWalk walk(force, source, status.st_dev);
    walk.check(parent.get(), name, folder, status);
    walk.remove(parent.get(), name, folder);
}

} // namespace platform
