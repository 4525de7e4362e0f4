#pragma once

#include "fileio/UniqueFd.h"
#include "journal/JournalFolder.h"
#include "journal/JournalRecords.h"
#include "journal/JournalUndo.h"
#include "platform/files/ChangeJournal.h"

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace updater {

// The journal of one update run, kept while the instruction file runs. Its
// folder (see JournalFolder) is made at the first change; each record is
// written before its change and is on disk before the change shows
// (makeDurable), so that after a kill or a power cut at any instant the
// journal tells exactly what to undo. A replaced file is kept as a second
// name of the very same file (same bytes, mode and times, no extra space),
// made before the new file is renamed over it; only where the file system
// allows no second name is it copied. Paths inside the installation are
// recorded relative to it (see JournalRecords). Failures raise
// platform::Error.
class UpdateJournal : public platform::ChangeJournal {
public:
    explicit UpdateJournal(const std::string& installFolder);
    ~UpdateJournal() override = default;

    void keepReplaced(const std::string& target) override;
    void noteAdded(const std::string& target, const struct stat& from) override;
    void noteFolder(const std::string& folder) override;
    std::string placeFor(const std::string& target) override;
    void makeDurable() override;
    void syncBeforeCommit(const std::string& path) override;

    // Whether the run has changed the installation, so that there is a
    // journal on disk.
    bool started() const { return m_begun; }
    const JournalFolder& folder() const { return m_folder; }

    // The one commit point: makes every change left to it durable (each file
    // system they lie on synced once), then marks the journal complete in
    // one step (a rename, synced with its folder). From then on the update's changes are
    // final and a later start finishes the journal instead of undoing it.
    // Last, the updater's own new program takes its place; a start after a
    // kill before that puts it there.
    void commit();
    // After the commit: removes the kept files, then the journal itself.
    void removeKept();
    void remove();

    // Before the commit, or after a commit that failed: puts every change
    // back, newest first, then removes the journal. When something cannot
    // be put back, the journal stays for the next start to finish.
    Restoration rollBack();

private:
    // Makes the folder and the records file at the first change.
    void begin();
    // Records the change of record.path, a path on disk, under the name
    // the journal gives it.
    void append(JournalRecord record);
    // A copy of the entry at target, with its mode and times, as kept file
    // number; for a file that cannot have a second name in the journal.
    void keepCopy(const std::string& target, unsigned number);

    JournalFolder m_folder;
    // The installation folder as the records name it.
    std::string m_installation;
    // The updater's own program as the records name it.
    std::string m_program;
    fileio::UniqueFd m_records;
    std::vector<JournalRecord> m_written;
    unsigned m_kept = 0;
    bool m_begun = false;
    bool m_committed = false;
    // What must be synced before the next change shows.
    bool m_recordsDirty = false;
    bool m_folderDirty = false;
    bool m_installDirty = false;
    // A path on each file system whose changes are synced at the commit.
    std::map<dev_t, std::string> m_unsynced;
};

} // namespace updater
