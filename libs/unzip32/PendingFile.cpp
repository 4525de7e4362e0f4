#include "PendingFile.h"

#include "SystemFailure.h"
#include "fileio/Writing.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace unzip32 {

namespace {

constexpr int creationAttempts = 16;

void renameIntoPlace(int folderFd, const std::string& from, const std::string& to) {
    if (::renameat(folderFd, from.c_str(), folderFd, to.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(folderFd, from.c_str(), 0);
        throwSystemFailure(error, "cannot put the file in place");
    }
}

// Random from the start, then counted, so that a name costs no system call.
std::string temporaryName() {
    static std::atomic<unsigned long long> next{[] {
        unsigned long long seed = 0;
        if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != sizeof seed) {
            seed = static_cast<unsigned long long>(::getpid()) << 32;
        }
        return seed;
    }()};
    char name[32];
    std::snprintf(name, sizeof name, ".uz32-%016llx", next.fetch_add(1));
    return name;
}

} // namespace

PendingFile::PendingFile(int folderFd) : m_folderFd(folderFd) {
    for (int attempt = 0; attempt < creationAttempts && !m_fd; ++attempt) {
        m_temporaryName = temporaryName();
        m_fd = fileio::openFileAt(folderFd, m_temporaryName,
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (!m_fd && errno != EEXIST) {
            throwSystemFailure(errno, "cannot create the file");
        }
    }
    if (!m_fd) {
        throwSystemFailure(EEXIST, "cannot create the file");
    }
}

PendingFile::~PendingFile() {
    if (!m_committed) {
        m_fd.reset();
        ::unlinkat(m_folderFd, m_temporaryName.c_str(), 0);
    }
}

void PendingFile::write(std::string_view data) {
    if (const int error = fileio::writeAll(m_fd.get(), data)) {
        throwSystemFailure(error, "cannot write the file");
    }
}

void PendingFile::commit(const std::string& name, const TargetAttributes& attributes) {
    finish(attributes);
    place(name);
}

void PendingFile::finish(const TargetAttributes& attributes) {
    applyAttributes(m_fd.get(), attributes, "file");
    if (!m_fd.close()) {
        throwSystemFailure(errno, "cannot write the file");
    }
}

void PendingFile::place(const std::string& name) {
    renameIntoPlace(m_folderFd, m_temporaryName, name);
    m_committed = true;
}

void placeSymbolicLink(int folderFd, const std::string& name, const std::string& target,
                       const timespec& modified) {
    std::string linkName;
    int result = -1;
    for (int attempt = 0; attempt < creationAttempts && result != 0; ++attempt) {
        linkName = temporaryName();
        result = ::symlinkat(target.c_str(), folderFd, linkName.c_str());
        if (result != 0 && errno != EEXIST) {
            throwSystemFailure(errno, "cannot create the symbolic link");
        }
    }
    if (result != 0) {
        throwSystemFailure(EEXIST, "cannot create the symbolic link");
    }
    const timespec times[2] = {modified, modified};
    ::utimensat(folderFd, linkName.c_str(), times, AT_SYMLINK_NOFOLLOW);
    renameIntoPlace(folderFd, linkName, name);
}

} // namespace unzip32
