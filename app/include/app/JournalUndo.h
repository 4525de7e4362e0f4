#pragma once

#include "app/JournalFolder.h"
#include "app/JournalRecords.h"

#include <string>
#include <vector>

namespace updater {

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
// records after any interruption. Stops at the first change that cannot be
// put back.
Restoration undoChanges(const JournalFolder& journal, const std::vector<JournalRecord>& records,
                        UndoScope scope);

// "3 files restored, 2 added files and 1 added folder removed", and the
// folders left.
std::string describeRestoration(const Restoration& restoration);

} // namespace updater
