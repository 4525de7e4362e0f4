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
#include <optional>
#include <sys/stat.h>
#include <vector>

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

} // namespace

uint64_t FilesWritten::roomNeeded(const FilesAtOnce& atOnce) const {
    uint64_t most = 0;
    uint64_t addedBefore = 0;
    // The files beside the first not yet in place: [first, end).
    std::size_t end = 0;
    uint64_t beside = 0;
    for (std::size_t first = 0; first < m_files.size(); ++first) {
        if (end == first) {
            beside = m_files[end++].size;
        }
        while (end < m_files.size() && end - first < atOnce.files &&
               beside + m_files[end].size <= atOnce.bytes) {
            beside = sum(beside, m_files[end++].size);
        }
        most = std::max(most, sum(addedBefore, beside));
        addedBefore = sum(addedBefore, m_files[first].added);
        beside -= m_files[first].size;
    }
    return most;
}

FilesWritten FilesWritten::of(const Archive& archive, const EntrySelection& selection,
                              const JobSettings& settings) {
    FolderTree tree(settings.extractionFolder, false);
    FilesWritten written;
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
                const uint64_t replaced = exists ? roomHeldBy(existing) : 0;
                written.m_files.push_back(
                    {entry.size, entry.size > replaced ? entry.size - replaced : 0});
            }
        } catch (const EntryFault&) {
            continue;
        }
    }
    return written;
}

namespace {

std::optional<fileio::RoomShortfall> shortfall(const JobSettings& settings, uint64_t need) {
    const std::string& folder = settings.extractionFolder;
    return fileio::roomShortfall(folder.empty() ? "." : folder, need, "unpacking the archive");
}

} // namespace

bool roomFor(const JobSettings& settings, uint64_t need) {
    return !shortfall(settings, need);
}

void requireRoom(const JobSettings& settings, uint64_t need) {
    if (const auto missing = shortfall(settings, need)) {
        throw JobStop(UZP_DISK_FULL, missing->sentence);
    }
}

} // namespace unzip32
