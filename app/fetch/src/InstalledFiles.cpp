#include "fetch/InstalledFiles.h"
#include "fetch/FetchFailure.h"

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

// The file's SHA-256, and its chunks when it is one to cut.
std::optional<delta::Sha256> InstalledFiles::digestOf(const std::string& installedPath, int file,
                                                      const Identity& identity) {
    const auto listed = m_cutPaths.find(installedPath);
    if (listed == m_cutPaths.end()) {
        return delta::sha256OfOpenFile(file, identity.path);
    }
    const std::vector<delta::MapChunk>& chunks = listed->second;
    delta::HeldChunks held;
    std::size_t next = 0;
    bool listedSoFar = true;
    delta::cutOpenFile(file, identity.path, m_cutSizes,
                       [&](std::uint64_t offset, std::uint64_t size, const delta::Sha256& sha256) {
                           const delta::ChunkDigest digest = delta::chunkDigestOf(sha256);
                           held.try_emplace(digest, delta::HeldChunk{offset, size});
                           // The same bytes cut the same way: a chunk other than
                           // the listed one in its place is another file.
                           listedSoFar = listedSoFar && next < chunks.size() &&
                                         chunks[next].size == size && chunks[next].digest == digest;
                           ++next;
                           m_pump();
                       });
    m_cut[installedPath] = {identity, std::move(held)};
    if (!listedSoFar || next != chunks.size()) {
        return std::nullopt;
    }
    // Chunks that are all the listed ones are most likely the new file; its
    // SHA-256 alone says so.
    return delta::sha256OfOpenFile(file, identity.path);
}

void InstalledFiles::cutWhenHashing(ListedChunks listed, const zipformat::ChunkSizes& sizes) {
    m_cutPaths = std::move(listed);
    m_cutSizes = sizes;
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
    const Identity identity{found, status.st_dev, status.st_ino, status.st_size, status.st_mtim};
    try {
        if (digestOf(installedPath, file.get(), identity) != std::optional(sha256)) {
            return false;
        }
    } catch (const delta::DeltaError&) {
        return false;
    }
    m_held[installedPath] = identity;
    return true;
}

Outcome<void> InstalledFiles::take(const std::string& installedPath, const std::string& to,
                                   mode_t mode) const {
    const auto held = m_held.find(installedPath);
    if (held == m_held.end()) {
        return needWholePackage(FetchFailureKind::localFiles,
                                "the installation holds no file " + installedPath);
    }
    const Identity& identity = held->second;
    struct stat status {};
    const fileio::UniqueFd file =
        fileio::openRegularFile(identity.path, status, fileio::LastLink::refuse);
    if (!file || !same(identity, status)) {
        return needWholePackage(FetchFailureKind::localFiles,
                                identity.path + " changed while the update read the installation");
    }
    if (const int error = fileio::linkOrCopy(file.get(), status, to, mode)) {
        return needWholePackage(FetchFailureKind::localFiles, "cannot copy " + identity.path +
                                                                  " to " + to + ": " +
                                                                  fileio::systemReason(error));
    }
    return {};
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
    if (const auto cut = m_cut.find(installedPath);
        cut != m_cut.end() && sizes == m_cutSizes && same(cut->second.first, status)) {
        chunks.held = cut->second.second;
        return chunks;
    }
    try {
        chunks.held = delta::chunksOfOpenFile(chunks.file.get(), chunks.path, sizes, m_pump);
    } catch (const delta::DeltaError&) {
        return std::nullopt;
    }
    return chunks;
}

} // namespace updater
