#include "RoomCheck.h"

#include "Archive.h"
#include "EntrySelection.h"
#include "EntryTarget.h"
#include "FolderTree.h"
#include "JobError.h"
#include "fileio/Room.h"
#include "unzip32.h"

#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>

namespace unzip32 {

namespace {

uint64_t sum(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

// The room a file's replacement gives back: its bytes, unless another name
// keeps them (a sparse file gives back only what it holds).
uint64_t roomHeldBy(const struct stat& existing) {
    if (!S_ISREG(existing.st_mode) || existing.st_nlink != 1) {
        return 0;
    }
    return std::min(static_cast<uint64_t>(existing.st_size),
                    static_cast<uint64_t>(existing.st_blocks) * 512);
}

// The most room the files written so far took at any moment.
class RoomNeed {
public:
    void write(uint64_t size, uint64_t replaced) {
        m_most = std::max(m_most, sum(m_added, size));
        m_added = sum(m_added, size > replaced ? size - replaced : 0);
    }
    uint64_t bytes() const { return m_most; }

private:
    uint64_t m_added = 0;
    uint64_t m_most = 0;
};

} // namespace

void requireRoom(const Archive& archive, const EntrySelection& selection,
                 const JobSettings& settings) {
    FolderTree tree(settings.extractionFolder, false);
    RoomNeed need;
    for (uint64_t index = 0; index < archive.entryCount(); ++index) {
        try {
            const EntryInfo entry = archive.entry(index);
            if (entry.kind != EntryKind::File || !selection.selects(entry.name)) {
                continue;
            }
            const FileTarget target = fileTarget(entry, settings);
            const int folderFd = tree.open(target.folders, false);
            struct stat existing {};
            const bool exists = folderFd >= 0 && ::fstatat(folderFd, target.name.c_str(), &existing,
                                                           AT_SYMLINK_NOFOLLOW) == 0;
            if (exists && S_ISDIR(existing.st_mode)) {
                continue;
            }
            if (writingOver(settings, entry, exists ? &existing : nullptr) != Writing::skip) {
                need.write(entry.size, exists ? roomHeldBy(existing) : 0);
            }
        } catch (const EntryFault&) {
            continue;
        }
    }
    const std::string& folder = settings.extractionFolder;
    if (const auto shortfall = fileio::roomShortfall(folder.empty() ? "." : folder, need.bytes(),
                                                     "unpacking the archive")) {
        throw JobStop(UZP_DISK_FULL, shortfall->sentence);
    }
}

} // namespace unzip32
