#pragma once

#include "journal/JournalFolder.h"
#include "journal/JournalRecords.h"

#include <string>
#include <vector>

namespace updater {

// A change an undo left as it is, for undoing it was not safe.
struct LeftChange {
    enum class Reason {
        // A symbolic link stands on the way now: what lies behind it is not
        // the installation's.
        link,
        // What stands there is not what the update put there.
        otherFile,
        // It lies outside the installation, and nothing shows that the
        // update made it: it was not changed since the journal began, or an
        // earlier updater did not record what it put there.
        unproven,
    };
    std::string path; // where it lies
    Reason reason;

    bool operator==(const LeftChange&) const = default;
};

// What putting an update's changes back did.
struct Restoration {
    unsigned restoredFiles = 0;  // replaced files put back
    unsigned removedFiles = 0;   // files the update added, removed
    unsigned removedFolders = 0; // folders the update made, removed
    // Folders the update made that now hold files it did not bring (a
    // program an instruction started may have written there): left as they
    // are, for those files are not the update's to remove.
    std::vector<std::string> foldersLeft;
    // Changes outside the installation left as they are, for the journal
    // was written by another installation folder (UndoScope::installation).
    unsigned outsideLeft = 0;
    // Changes left as they are, for undoing them was not safe.
    std::vector<LeftChange> left;
    // What could not be put back and why; empty when everything was.
    std::string failure;

    bool whole() const { return failure.empty(); }
};

// Which of a journal's changes an undo puts back. Changes inside the
// installation are put back in the installation the journal lies in;
// changes outside it only by the installation folder that made them, for
// in a copied or moved installation they are the original's.
enum class UndoScope {
    everyChange,
    installation,
};

// Puts back the changes the records name, newest first: every kept file
// renamed back over its place, every added file and folder removed, each
// folder synced after its change. Changes that were never made (a kept file
// whose place still holds the very file that was kept), or were already put
// back by an earlier try, are passed over, so it may run again on the same
// records after any interruption. Nothing is reached through a symbolic
// link; an added file goes only when it is what the update put there; a
// change outside the installation is undone only when it shows that the
// update made it. What cannot be undone safely is left (LeftChange), but a
// kept file is never given up: stops at the first change that cannot be
// put back.
Restoration undoChanges(const JournalFolder& journal, const std::vector<JournalRecord>& records,
                        UndoScope scope);

// "3 files restored, 2 added files and 1 added folder removed", and the
// folders and changes left.
std::string describeRestoration(const Restoration& restoration);

} // namespace updater
