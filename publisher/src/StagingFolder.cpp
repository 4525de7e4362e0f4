#include "StagingFolder.h"

#include "RunLeftovers.h"

#include "fileio/Locks.h"
#include "fileio/Writing.h"
#include "publisher/PublishError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace publisher {

namespace {

const char* const stagingPrefix = ".publishing-";
// Folders made and at once taken away by another run's removal of
// leftovers, before this one holds them, are made again this many times.
constexpr int mostTries = 10;

std::string reasonOf(int errnoValue) {
    return std::strerror(errnoValue);
}

// The folder at path, opened and locked for as long as the result lives,
// while path still names it; empty when another run holds it or it has gone
// (errno tells which).
fileio::UniqueFd lockedFolder(const std::string& path) {
    fileio::UniqueFd folder = fileio::lockFolder(path, false);
    if (!folder) {
        return folder;
    }
    // A run that held it before may have removed it before it let go.
    struct stat held {};
    struct stat named {};
    if (::fstat(folder.get(), &held) != 0 || ::lstat(path.c_str(), &named) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
        folder.reset();
        errno = ENOENT;
    }
    return folder;
}

} // namespace

StagingFolder::StagingFolder(const std::string& servedFolder) {
    for (int tries = 0; !m_lock; ++tries) {
        std::string pattern = servedFolder + "/" + stagingPrefix + "XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        {
            RunLeftovers::Held held = RunLeftovers::instance().hold();
            if (::mkdtemp(name.data()) == nullptr) {
                throw PublishError("cannot write to " + servedFolder + ": " + reasonOf(errno));
            }
            held.addTree(name.data());
        }
        m_lock = lockedFolder(name.data());
        const int error = errno;
        if (m_lock) {
            m_path = name.data();
            continue;
        }
        RunLeftovers::instance().forget(name.data());
        if ((error != ENOENT && error != EWOULDBLOCK) || tries + 1 == mostTries) {
            ::rmdir(name.data());
            throw PublishError("cannot lock the staging folder " + std::string(name.data()) + ": " +
                               reasonOf(error));
        }
    }
    removeLeftovers(servedFolder);
}

StagingFolder::~StagingFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    RunLeftovers::instance().forget(m_path);
}

void StagingFolder::removeLeftovers(const std::string& servedFolder) {
    std::vector<std::string> candidates;
    std::error_code failure;
    for (std::filesystem::directory_iterator it(servedFolder, failure), end; !failure && it != end;
         it.increment(failure)) {
        const std::string path = it->path().string();
        if (it->path().filename().string().starts_with(stagingPrefix) && path != m_path) {
            candidates.push_back(path);
        }
    }
    for (const std::string& path : candidates) {
        const fileio::UniqueFd held = lockedFolder(path);
        if (!held) {
            continue; // a run still going, or not a folder
        }
        std::error_code removal;
        std::filesystem::remove_all(path, removal);
        m_leftovers.push_back(
            removal ? "cannot remove " + path +
                          ", left by an earlier run that was stopped: " + removal.message()
                    : "removed " + path + ", left by an earlier run that was stopped");
    }
}

void writeNewFile(const std::string& path, const std::string& text) {
    fileio::UniqueFd file = fileio::openFile(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    int failure = file ? 0 : errno;
    if (failure == 0) {
        failure = fileio::writeAll(file.get(), text);
    }
    if (failure == 0) {
        failure = fileio::syncFile(file.get());
    }
    if (failure == 0 && !file.close()) {
        failure = errno;
    }
    if (failure != 0) {
        throw PublishError("cannot write " + path + ": " + reasonOf(failure));
    }
}

} // namespace publisher
