#pragma once

#include "app/Outcome.h"
#include "delta/ChunkPlan.h"
#include "delta/Sha256.h"
#include "fileio/UniqueFd.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace updater {

// The files of the installation an update takes instead of fetching them:
// those whose installed copy has the size and SHA-256 the manifest lists.
// Each is read once to hash it (a file cut into chunks, whose chunks are
// the new file's, a second time), and taken into the temp folder only while
// it is still the file that was hashed.
// An installed file open for reading, and the chunks it holds by digest.
struct InstalledChunks {
    fileio::UniqueFd file;
    std::string path; // as found on disk
    delta::HeldChunks held;
};

class InstalledFiles {
public:
    // Finds an installed path's file in its letter case.
    using Resolve = std::function<std::string(const std::string& path)>;

    InstalledFiles(std::string installFolder, Resolve resolve, std::function<void()> pump);

    // Whether the installation holds a regular file at installedPath (below
    // the installation folder) of this size and SHA-256.
    bool holds(const std::string& installedPath, std::uint64_t size, const delta::Sha256& sha256);

    // Puts the file holds found at installedPath under the name to, with
    // exactly mode: a second name of it when it has that mode, else a copy.
    Outcome<void> take(const std::string& installedPath, const std::string& to, mode_t mode) const;

    // The chunks of the new files, by installed path, as the chunk map lists
    // them.
    using ListedChunks = std::map<std::string, std::vector<delta::MapChunk>>;
    // The installed paths whose file holds cuts into chunks with sizes
    // before it hashes it, so that chunks need not read it again. A file
    // whose chunks are not the listed ones is not the new file: its SHA-256
    // is never taken.
    void cutWhenHashing(ListedChunks listed, const zipformat::ChunkSizes& sizes);

    // The regular file at installedPath, cut into chunks with sizes (as
    // holds cut it, when it is still that file); nothing when there is none
    // or it cannot be read.
    std::optional<InstalledChunks> chunks(const std::string& installedPath,
                                          const zipformat::ChunkSizes& sizes) const;

private:
    // What tells the file hashed from one put in its place since.
    struct Identity {
        std::string path; // as found on disk
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
    };
    static bool same(const Identity& identity, const struct stat& status);
    // The file's SHA-256; nothing when its chunks already show it is not the
    // new file.
    std::optional<delta::Sha256> digestOf(const std::string& installedPath, int file,
                                          const Identity& identity);

    std::string m_installFolder;
    Resolve m_resolve;
    std::function<void()> m_pump;
    std::map<std::string, Identity> m_held; // by installed path
    ListedChunks m_cutPaths;
    zipformat::ChunkSizes m_cutSizes;
    // What holds cut, by installed path, and the file it cut.
    std::map<std::string, std::pair<Identity, delta::HeldChunks>> m_cut;
};

} // namespace updater
