#include "journal/JournalUndo.h"

#include "app/SourceLabels.h"

#include "JournalPlaces.h"
#include "fileio/Beneath.h"
#include "fileio/Names.h"
#include "fileio/UniqueFd.h"
#include "fileio/Writing.h"
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

using Place = JournalPlaces::Place;

const char* const source = sources::journal;

std::string counted(unsigned count, const std::string& singular, const std::string& plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string reason(const std::string& what, const std::string& path, int error) {
    return "could not " + what + " " + path + ": " + std::strerror(error);
}

std::string whyLeft(LeftChange::Reason reason) {
    switch (reason) {
    case LeftChange::Reason::link:
        return "a symbolic link stands on its way";
    case LeftChange::Reason::otherFile:
        return "it is not the file the update put there";
    case LeftChange::Reason::unproven:
        return "it lies outside the installation and nothing shows that the update made it";
    }
    return {};
}

// The kept copy's content, mode and times written over the entry; for a kept
// file that lies on another file system than its place. The place is named
// through its open folder, so that the copy cannot be led elsewhere either.
void copyBack(int journal, const std::string& kept, const Place& place) {
    const fileio::UniqueFd input =
        fileio::openFileAt(journal, kept, O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    struct stat status {};
    if (!input || fstat(input.get(), &status) != 0) {
        throw platform::systemError(errno, source, kept);
    }
    platform::ReplacementFile replacement(
        "/proc/self/fd/" + std::to_string(place.folder.get()) + "/" + place.name, source);
    replacement.copyFrom(input.get(), kept);
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    replacement.finish(status.st_mode & 0777, times);
    replacement.commit();
}

// Whether the entry still is the file the update found there: the kept file
// itself, or the file the record says was there when it was kept.
bool stillThere(const JournalRecord& record, const struct stat& kept, const struct stat& now) {
    return (now.st_dev == kept.st_dev && now.st_ino == kept.st_ino) ||
           (record.replaced && identityOf(now) == *record.replaced);
}

class Undo {
public:
    Undo(const JournalFolder& journal, UndoScope scope, Restoration& result)
        : m_journal(journal), m_places(journal), m_scope(scope), m_result(result) {}

    // False with the failure set when the change could not be put back.
    bool putBack(const JournalRecord& record) {
        if (record.outside() && m_scope == UndoScope::installation) {
            ++m_result.outsideLeft;
            return true;
        }
        struct stat kept {};
        if (record.kind == JournalRecord::Kind::kept && !keptFile(record, kept)) {
            return m_result.whole();
        }
        const Place place = m_places.placeOf(record.path);
        if (place.error != 0) {
            return unreachable(record, place);
        }
        clearLeftovers(record, place);
        switch (record.kind) {
        case JournalRecord::Kind::kept:
            return restore(record, kept, place);
        case JournalRecord::Kind::added:
            return removeAdded(record, place);
        case JournalRecord::Kind::folder:
            return removeFolder(record, place);
        }
        return true;
    }

private:
    // The file the journal kept for the record, into status; false when
    // there is none (never kept, so never replaced; or put back already) or
    // the journal cannot be opened (the failure set).
    bool keptFile(const JournalRecord& record, struct stat& status) {
        const int journal = m_places.journal();
        if (journal < 0) {
            fail(reason("open", m_journal.path(), errno));
            return false;
        }
        return fstatat(journal, JournalFolder::keptName(record.number).c_str(), &status,
                       AT_SYMLINK_NOFOLLOW) == 0;
    }

    // The folder that holds the entry could not be opened.
    bool unreachable(const JournalRecord& record, const Place& place) {
        const bool kept = record.kind == JournalRecord::Kind::kept;
        if (place.error == ELOOP || place.error == EXDEV) {
            return kept ? fail(place.path + " lies behind a symbolic link now, and the file the "
                                            "update replaced there is not put back through it")
                        : leave(place, LeftChange::Reason::link);
        }
        // No folder there: nothing the update made is left in it.
        if (!kept && (place.error == ENOENT || place.error == ENOTDIR)) {
            return true;
        }
        return fail(reason(kept ? "put back" : "remove", place.path, place.error));
    }

    bool restore(const JournalRecord& record, const struct stat& kept, const Place& place) {
        const int journal = m_places.journal();
        const std::string keptName = JournalFolder::keptName(record.number);
        struct stat now {};
        const bool present =
            fstatat(place.folder.get(), place.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
        if (present && stillThere(record, kept, now)) {
            // Kept, but the new file never took its place: nothing to put
            // back, and the kept file is not needed.
            const int error = fileio::removeName(journal, keptName, 0);
            return error == 0 || error == ENOENT ||
                   fail(reason("remove", m_journal.kept(record.number), error));
        }
        if (record.outside() && !(present && m_places.changedSinceBegan(now))) {
            return fail(place.path +
                        " lies outside the installation and shows no change the "
                        "update made; the file kept for it stays in " +
                        m_journal.kept(record.number));
        }
        return renameBack(journal, keptName, place);
    }

    bool renameBack(int journal, const std::string& kept, const Place& place) {
        int error = fileio::renameNameAt(journal, kept, place.folder.get(), place.name);
        if (error == EXDEV) {
            try {
                copyBack(journal, kept, place);
                error = fileio::removeName(journal, kept, 0);
            } catch (const platform::Error& failure) {
                return fail("could not put back " + place.path + ": " + failure.description());
            }
        }
        if (error != 0) {
            return fail(reason("put back", place.path, error));
        }
        ++m_result.restoredFiles;
        return synced(place);
    }

    bool removeAdded(const JournalRecord& record, const Place& place) {
        struct stat now {};
        if (!look(place, now)) {
            return m_result.whole();
        }
        const bool outside = record.outside();
        if (outside && (!record.placed || !m_places.changedSinceBegan(now))) {
            return leave(place, LeftChange::Reason::unproven);
        }
        // An earlier updater's record says only where: a file is taken for
        // the update's inside the installation.
        const bool updates = record.placed ? isPlaced(*record.placed, now) : S_ISREG(now.st_mode);
        if (!updates) {
            return leave(place, LeftChange::Reason::otherFile);
        }
        return removeEntry(place, 0, m_result.removedFiles);
    }

    bool removeFolder(const JournalRecord& record, const Place& place) {
        struct stat now {};
        if (!look(place, now)) {
            return m_result.whole();
        }
        if (!S_ISDIR(now.st_mode)) {
            // Something else than the update would have made: the change was
            // never made.
            return true;
        }
        if (record.outside() && !m_places.changedSinceBegan(now)) {
            return leave(place, LeftChange::Reason::unproven);
        }
        return removeEntry(place, AT_REMOVEDIR, m_result.removedFolders);
    }

    // What stands at the place, into status; false when nothing does (never
    // made, or removed already) or it cannot be looked at (the failure set).
    bool look(const Place& place, struct stat& status) {
        if (fstatat(place.folder.get(), place.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
            return true;
        }
        if (errno != ENOENT) {
            fail(reason("remove", place.path, errno));
        }
        return false;
    }

    // The entry removed (a folder only when empty) and its folder synced,
    // counted in removed.
    bool removeEntry(const Place& place, int flags, unsigned& removed) {
        const int error = fileio::removeName(place.folder.get(), place.name, flags);
        if (error == ENOENT || error == ENOTDIR) {
            return true;
        }
        if (flags == AT_REMOVEDIR && (error == ENOTEMPTY || error == EEXIST)) {
            m_result.foldersLeft.push_back(place.path);
            return true;
        }
        if (error != 0) {
            return fail(reason("remove", place.path, error));
        }
        ++removed;
        return synced(place);
    }

    bool synced(const Place& place) {
        const int error = fileio::syncFile(place.folder.get());
        return error == 0 || fail(reason("sync the folder of", place.path, error));
    }

    bool leave(const Place& place, LeftChange::Reason why) {
        m_result.left.push_back({place.path, why});
        return true;
    }

    bool fail(std::string failure) {
        m_result.failure = std::move(failure);
        return false;
    }

    // A copy cut short between its link and its rename may have left its
    // temporary file; it goes before the folder is looked at. For a folder
    // the update made, that is the folder itself.
    void clearLeftovers(const JournalRecord& record, const Place& place) {
        const bool inside = record.kind == JournalRecord::Kind::folder;
        if (!m_cleared.insert(inside ? place.path : platform::folderOf(place.path)).second) {
            return;
        }
        if (!inside) {
            platform::ReplacementFile::removeLeftovers(place.folder.get());
        } else if (const fileio::UniqueFd folder =
                       fileio::openFolderBeneath(place.folder.get(), place.name)) {
            platform::ReplacementFile::removeLeftovers(folder.get());
        }
    }

    const JournalFolder& m_journal;
    JournalPlaces m_places;
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
    for (const LeftChange& left : restoration.left) {
        text += "; " + left.path + " was left as it is, for " + whyLeft(left.reason);
    }
    return text;
}

} // namespace updater
