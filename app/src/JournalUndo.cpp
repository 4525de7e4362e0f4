#include "app/JournalUndo.h"

#include "SourceLabels.h"

#include "app/JournalPaths.h"
#include "fileio/Names.h"
#include "fileio/UniqueFd.h"
#include "platform/Error.h"
#include "platform/files/PathText.h"
#include "platform/files/ReplacementFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>

namespace updater {

namespace {

const char* const source = sources::journal;

std::string counted(unsigned count, const std::string& singular, const std::string& plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string reason(const std::string& what, const std::string& path, int error) {
    return "could not " + what + " " + path + ": " + std::strerror(error);
}

// The kept copy's content, mode and times written over target; for a kept
// file that lies on another file system than its place.
void copyBack(const std::string& kept, const std::string& target) {
    const fileio::UniqueFd input(open(kept.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!input || fstat(input.get(), &status) != 0) {
        throw platform::systemError(errno, source, kept);
    }
    platform::ReplacementFile replacement(target, source);
    replacement.copyFrom(input.get(), kept);
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    replacement.finish(status.st_mode & 0777, times);
    replacement.commit();
}

class Undo {
public:
    Undo(const JournalFolder& journal, UndoScope scope, Restoration& result)
        : m_journal(journal), m_scope(scope), m_result(result) {}

    // False with the failure set when the change could not be put back.
    bool putBack(const JournalRecord& record) {
        if (record.outside() && m_scope == UndoScope::installation) {
            ++m_result.outsideLeft;
            return true;
        }
        const std::string place = placeOf(m_journal.installFolder(), record.path);
        clearLeftovers(record.kind == JournalRecord::Kind::folder ? place
                                                                  : platform::folderOf(place));
        switch (record.kind) {
        case JournalRecord::Kind::kept:
            return restore(record, place);
        case JournalRecord::Kind::added:
            return remove(place, 0);
        case JournalRecord::Kind::folder:
            return remove(place, AT_REMOVEDIR);
        }
        return true;
    }

private:
    bool restore(const JournalRecord& record, const std::string& target) {
        const std::string kept = m_journal.kept(record.number);
        struct stat keptStatus {};
        if (lstat(kept.c_str(), &keptStatus) != 0) {
            // Never kept, so never replaced; or put back already.
            return true;
        }
        if (stillThere(record, keptStatus, target)) {
            // Kept, but the new file never took its place: nothing to put
            // back, and the kept file is not needed.
            const int error = fileio::removeFile(kept);
            return error == 0 || error == ENOENT || fail(reason("remove", kept, error));
        }
        int error = fileio::renameName(kept, target);
        if (error == EXDEV) {
            try {
                copyBack(kept, target);
                error = fileio::removeFile(kept);
            } catch (const platform::Error& failure) {
                return fail("could not put back " + target + ": " + failure.description());
            }
        }
        if (error != 0) {
            return fail(reason("put back", target, error));
        }
        ++m_result.restoredFiles;
        return synced(platform::folderOf(target));
    }

    // Whether target still holds the file the update found there: the kept
    // file itself, or the file the record says was there when it was kept.
    static bool stillThere(const JournalRecord& record, const struct stat& keptStatus,
                           const std::string& target) {
        struct stat status {};
        if (lstat(target.c_str(), &status) != 0) {
            return false;
        }
        return (status.st_dev == keptStatus.st_dev && status.st_ino == keptStatus.st_ino) ||
               (record.replaced && identityOf(status) == *record.replaced);
    }

    bool remove(const std::string& path, int flags) {
        const int error = fileio::removeName(AT_FDCWD, path, flags);
        // Nothing there, or something else than the update would have made:
        // the change was never made.
        if (error == ENOENT || error == ENOTDIR || error == EISDIR) {
            return true;
        }
        if (flags == AT_REMOVEDIR && (error == ENOTEMPTY || error == EEXIST)) {
            m_result.foldersLeft.push_back(path);
            return true;
        }
        if (error != 0) {
            return fail(reason("remove", path, error));
        }
        ++(flags == AT_REMOVEDIR ? m_result.removedFolders : m_result.removedFiles);
        return synced(platform::folderOf(path));
    }

    bool synced(const std::string& folder) {
        const int error = fileio::syncFolder(folder);
        return error == 0 || fail(reason("sync", folder, error));
    }

    bool fail(std::string failure) {
        m_result.failure = std::move(failure);
        return false;
    }

    // A copy cut short between its link and its rename may have left its
    // temporary file; it goes before the folder is looked at.
    void clearLeftovers(const std::string& folder) {
        if (m_cleared.insert(folder).second) {
            platform::ReplacementFile::removeLeftovers(folder);
        }
    }

    const JournalFolder& m_journal;
    UndoScope m_scope;
    Restoration& m_result;
    std::set<std::string> m_cleared;
};

} // namespace

Restoration undoChanges(const JournalFolder& journal, const std::vector<JournalRecord>& records,
                        UndoScope scope) {
    Restoration result;
    Undo undo(journal, scope, result);
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (!undo.putBack(*record)) {
            break;
        }
    }
    return result;
}

std::string describeRestoration(const Restoration& restoration) {
    std::string text = counted(restoration.restoredFiles, "file", "files") + " restored, " +
                       counted(restoration.removedFiles, "added file", "added files") + " and " +
                       counted(restoration.removedFolders, "added folder", "added folders") +
                       " removed";
    for (const std::string& folder : restoration.foldersLeft) {
        text += "; the folder " + folder +
                " that the update made was left, for it holds files the update did not bring";
    }
    return text;
}

} // namespace updater
