#include "platform/files/ReplacementFile.h"

#include "fileio/FolderListing.h"
#include "fileio/Names.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"
#include "platform/Error.h"
#include "platform/files/PathText.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

constexpr size_t nameLimit = 255;
// What marks a temporary file of ours: a hidden name ending in this marker
// and the six characters the system picks.
constexpr std::string_view leftoverMarker = ".replacing-";
constexpr std::string_view uniqueSuffix = "XXXXXX";
constexpr size_t bufferSize = 64 * 1024;

// A hidden name beside the target, short enough for any file system.
std::string temporaryPattern(const std::string& target) {
    const std::string name =
        nameOf(target).substr(0, nameLimit - 1 - leftoverMarker.size() - uniqueSuffix.size());
    return joinPath(folderOf(target),
                    "." + name + std::string(leftoverMarker) + std::string(uniqueSuffix));
}

bool isLeftoverName(std::string_view name) {
    if (name.size() < 1 + leftoverMarker.size() + uniqueSuffix.size() || name[0] != '.') {
        return false;
    }
    const std::string_view unique = name.substr(name.size() - uniqueSuffix.size());
    const bool systemPicked = std::all_of(unique.begin(), unique.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0;
    });
    return systemPicked && name.substr(name.size() - uniqueSuffix.size() - leftoverMarker.size(),
                                       leftoverMarker.size()) == leftoverMarker;
}

} // namespace

ReplacementFile::ReplacementFile(const std::string& target, std::string source)
    : m_target(target), m_source(std::move(source)), m_temporaryPath(temporaryPattern(target)) {
    m_fd = fileio::openFile(folderOf(target), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    m_nameless = static_cast<bool>(m_fd);
    // File systems without nameless files get the named temporary file.
    if (!m_nameless && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        throw systemError(errno, m_source, folderOf(target));
    }
    if (!m_nameless) {
        m_fd.reset(mkostemp(m_temporaryPath.data(), O_CLOEXEC));
        m_linked = static_cast<bool>(m_fd);
    }
    if (!m_fd) {
        throw systemError(errno, m_source, folderOf(target));
    }
}

ReplacementFile::ReplacementFile(const std::string& target, std::string source, Shared shared)
    : m_target(target), m_source(std::move(source)), m_temporaryPath(temporaryPattern(target)),
      m_fd(fcntl(shared.content, F_DUPFD_CLOEXEC, 0)) {
    if (!m_fd) {
        throw systemError(errno, m_source, m_target);
    }
    linkUnderTemporaryName();
}

ReplacementFile::~ReplacementFile() {
    if (!m_committed) {
        m_fd.reset();
        if (m_linked) {
            (void)fileio::removeFile(m_temporaryPath);
        }
    }
}

void ReplacementFile::copyFrom(int input, const std::string& inputPath) {
    std::vector<char> buffer(bufferSize);
    for (;;) {
        const ssize_t got = fileio::readSome(input, buffer.data(), buffer.size());
        if (got < 0) {
            throw systemError(errno, m_source, inputPath);
        }
        if (got == 0) {
            return;
        }
        if (const int error =
                fileio::writeAll(m_fd.get(), buffer.data(), static_cast<size_t>(got))) {
            throw systemError(error, m_source, m_target);
        }
    }
}

void ReplacementFile::finish(mode_t permissions, const struct timespec* times,
                             Durability durability) {
    if (fchmod(m_fd.get(), permissions) != 0 ||
        (times != nullptr && futimens(m_fd.get(), times) != 0)) {
        throw systemError(errno, m_source, m_target);
    }
    if (durability == Durability::now) {
        if (const int error = fileio::syncFile(m_fd.get())) {
            throw systemError(error, m_source, m_target);
        }
    }
    // A named file is closed here, where a late write error can still stop
    // the copy; a nameless one must stay open until it is linked.
    if (!m_nameless && !m_fd.close()) {
        throw systemError(errno, m_source, m_target);
    }
}

void ReplacementFile::linkUnderTemporaryName() {
    static constexpr std::string_view letters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, letters.size() - 1);
    for (int attempt = 0; !m_linked; ++attempt) {
        for (std::size_t i = m_temporaryPath.size() - uniqueSuffix.size();
             i < m_temporaryPath.size(); ++i) {
            m_temporaryPath[i] = letters[pick(random)];
        }
        const int error = fileio::linkDescriptor(m_fd.get(), m_temporaryPath);
        if (error == 0) {
            m_linked = true;
        } else if (error != EEXIST || attempt > 100) {
            throw systemError(error, m_source, m_target);
        }
    }
}

void ReplacementFile::commit(Durability durability) {
    if (!m_linked) {
        linkUnderTemporaryName();
    }
    if (const int error = fileio::renameName(m_temporaryPath, m_target)) {
        throw systemError(error, m_source, m_target);
    }
    m_committed = true;
    // The content is on disk already (finish); closing cannot lose it.
    m_fd.reset();
    // The new name itself must be on disk before anyone counts on it: an
    // update is marked complete only once every file it replaced is.
    if (durability == Durability::later) {
        return;
    }
    if (const int error = fileio::syncFolder(folderOf(m_target))) {
        throw systemError(error, m_source, folderOf(m_target));
    }
}

void ReplacementFile::removeLeftovers(const std::string& folder) {
    const fileio::UniqueFd open = fileio::openFile(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (open) {
        removeLeftovers(open.get());
    }
}

void ReplacementFile::removeLeftovers(int folder) {
    (void)fileio::visitFolder(folder, [folder](std::string_view name, bool) {
        struct stat status {};
        const std::string entry(name);
        if (isLeftoverName(name) &&
            fstatat(folder, entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            (void)fileio::removeName(folder, entry, 0);
        }
    });
}

} // namespace platform
