#include "FolderTree.h"

#include "JobError.h"
#include "SystemFailure.h"
#include "fileio/Failure.h"
#include "unzip32.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

namespace unzip32 {

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

} // namespace

int openChildFolder(int parent, const std::string& name, bool create) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::openat(parent, name.c_str(), folderFlags | O_NOFOLLOW);
        if (fd >= 0) {
            return fd;
        }
        const int error = errno;
        struct stat st {};
        const bool present = ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (present && S_ISLNK(st.st_mode)) {
            throw EntryFault(UZP_UNSAFE_ENTRY,
                             "refused: the path runs through the symbolic link \"" + name + "\"");
        }
        if (present && !S_ISDIR(st.st_mode)) {
            throw EntryFault(UZP_WRITE_FAILED, "\"" + name + "\" exists and is not a folder");
        }
        if (error != ENOENT) {
            throwSystemFailure(error, "cannot open the folder \"" + name + "\"");
        }
        if (!create) {
            return -1;
        }
        // A folder made meanwhile by someone else is as good as ours.
        if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
            throwSystemFailure(errno, "cannot create the folder \"" + name + "\"");
        }
    }
    throw EntryFault(UZP_WRITE_FAILED, "cannot open the folder \"" + name + "\"");
}

FolderTree::FolderTree(const std::string& path, bool create) {
    const std::string folder = path.empty() ? std::string(".") : path;
    if (create) {
        // A failure shows when the folder is opened below.
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
    }
    m_root = std::make_shared<fileio::UniqueFd>(::open(folder.c_str(), folderFlags));
    m_latest = m_root;
    if (!*m_root) {
        const int error = errno;
        throw JobStop(writeFailureCode(error), "cannot open the extraction folder " + folder +
                                                   ": " + fileio::systemReason(error));
    }
}

int FolderTree::open(const std::vector<std::string>& folders, bool create) {
    if (folders.empty()) {
        m_latest = m_root;
        return m_root->get();
    }
    if (m_lastFd && folders == m_lastFolders) {
        m_latest = m_lastFd;
        return m_lastFd->get();
    }
    if (create) {
        m_missing.clear();
    } else if (!m_missing.empty() && folders.size() >= m_missing.size() &&
               std::equal(m_missing.begin(), m_missing.end(), folders.begin())) {
        return -1;
    }
    m_lastFd.reset();
    m_latest.reset();
    m_lastFolders.clear();
    fileio::UniqueFd current;
    for (auto name = folders.begin(); name != folders.end(); ++name) {
        const int parent = current ? current.get() : m_root->get();
        const int child = openChildFolder(parent, *name, create);
        if (child < 0) {
            m_missing.assign(folders.begin(), name + 1);
            return -1;
        }
        current.reset(child);
    }
    m_lastFd = std::make_shared<fileio::UniqueFd>(std::move(current));
    m_lastFolders = folders;
    m_latest = m_lastFd;
    return m_lastFd->get();
}

} // namespace unzip32
