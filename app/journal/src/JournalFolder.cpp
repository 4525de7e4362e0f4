#include "journal/JournalFolder.h"

#include "app/SourceLabels.h"

#include "app/InstallationPaths.h"
#include "fileio/Names.h"
#include "platform/Error.h"
#include "platform/files/FolderListing.h"
#include "platform/files/PathPlace.h"
#include "platform/files/PathText.h"

#include <cerrno>
#include <sys/stat.h>

namespace updater {

namespace {

const char* const source = sources::journal;

} // namespace

bool JournalFolder::exists() const {
    struct stat status {};
    return lstat(m_path.c_str(), &status) == 0;
}

void JournalFolder::requireFolder() const {
    struct stat status {};
    if (lstat(m_path.c_str(), &status) != 0) {
        throw platform::systemError(errno, source, m_path);
    }
    if (!S_ISDIR(status.st_mode)) {
        platform::raiseError(platform::ErrorNumber::pathFileAccess, source,
                             m_path + " is no folder of this installation but " +
                                 (S_ISLNK(status.st_mode) ? "a link" : "a file") +
                                 "; it is left as it is");
    }
}

bool JournalFolder::placeProgram() const {
    struct stat status {};
    if (lstat(program().c_str(), &status) != 0) {
        if (errno == ENOENT) {
            return false;
        }
        throw platform::systemError(errno, source, program());
    }
    const std::string place = InstallationPaths(m_installFolder).updaterProgram();
    if (const int error = fileio::renameName(program(), place)) {
        throw platform::systemError(error, source, place);
    }
    if (const int error = fileio::syncFolder(m_installFolder)) {
        throw platform::systemError(error, source, m_installFolder);
    }
    return true;
}

bool JournalFolder::holds(const std::string& path) const {
    return platform::liesWithin(path, m_path);
}

std::vector<std::string> JournalFolder::entries() const {
    const auto names = platform::folderEntries(m_path);
    if (!names) {
        throw platform::systemError(errno, source, m_path);
    }
    return *names;
}

unsigned JournalFolder::removeKept() const {
    unsigned removed = 0;
    for (const std::string& name : entries()) {
        if (name.starts_with("kept-")) {
            if (const int error = fileio::removeFile(platform::joinPath(m_path, name))) {
                throw platform::systemError(error, source, platform::joinPath(m_path, name));
            }
            ++removed;
        }
    }
    return removed;
}

void JournalFolder::remove() const {
    for (const std::string& name : entries()) {
        if (const int error = fileio::removeFile(platform::joinPath(m_path, name))) {
            throw platform::systemError(error, source, platform::joinPath(m_path, name));
        }
    }
    if (const int error = fileio::removeFolder(m_path)) {
        throw platform::systemError(error, source, m_path);
    }
    if (const int error = fileio::syncFolder(m_installFolder)) {
        throw platform::systemError(error, source, m_installFolder);
    }
}

} // namespace updater
