#include "InstalledFiles.h"

#include "delta/DeltaError.h"
#include "fileio/Failure.h"
#include "fileio/LinkOrCopy.h"
#include "fileio/Reading.h"

#include <cerrno>
#include <sys/stat.h>
#include <utility>

namespace updater {

InstalledFiles::InstalledFiles(std::string installFolder, Resolve resolve,
                               std::function<void()> pump)
    : m_installFolder(std::move(installFolder)), m_resolve(std::move(resolve)),
      m_pump(std::move(pump)) {}

bool InstalledFiles::same(const Identity& identity, const struct stat& status) {
    return status.st_dev == identity.device && status.st_ino == identity.inode &&
           status.st_size == identity.size && status.st_mtim.tv_sec == identity.modified.tv_sec &&
           status.st_mtim.tv_nsec == identity.modified.tv_nsec;
}

bool InstalledFiles::holds(const std::string& installedPath, std::uint64_t size,
                           const delta::Sha256& sha256) {
    const std::string found = m_resolve(m_installFolder + "/" + installedPath);
    struct stat status {};
    const fileio::UniqueFd file = fileio::openRegularFile(found, status, fileio::LastLink::refuse);
    if (!file || static_cast<std::uint64_t>(status.st_size) != size) {
        return false;
    }
    m_pump();
    try {
        if (delta::sha256OfOpenFile(file.get(), found) != sha256) {
            return false;
        }
    } catch (const delta::DeltaError&) {
        return false;
    }
    m_held[installedPath] =
        Identity{found, status.st_dev, status.st_ino, status.st_size, status.st_mtim};
    return true;
}

std::optional<std::string> InstalledFiles::take(const std::string& installedPath,
                                                const std::string& to, mode_t mode) const {
    const auto held = m_held.find(installedPath);
    if (held == m_held.end()) {
        return "the installation holds no file " + installedPath;
    }
    const Identity& identity = held->second;
    struct stat status {};
    const fileio::UniqueFd file =
        fileio::openRegularFile(identity.path, status, fileio::LastLink::refuse);
    if (!file || !same(identity, status)) {
        return identity.path + " changed while the update read the installation";
    }
    if (const int error = fileio::linkOrCopy(file.get(), status, to, mode)) {
        return "cannot copy " + identity.path + " to " + to + ": " + fileio::systemReason(error);
    }
    return std::nullopt;
}

std::optional<InstalledChunks> InstalledFiles::chunks(const std::string& installedPath,
                                                      const zipformat::ChunkSizes& sizes) const {
    InstalledChunks chunks;
    chunks.path = m_resolve(m_installFolder + "/" + installedPath);
    struct stat status {};
    chunks.file = fileio::openRegularFile(chunks.path, status, fileio::LastLink::refuse);
    if (!chunks.file) {
        return std::nullopt;
    }
    try {
        chunks.held = delta::chunksOfOpenFile(chunks.file.get(), chunks.path, sizes, m_pump);
    } catch (const delta::DeltaError&) {
        return std::nullopt;
    }
    return chunks;
}

} // namespace updater
