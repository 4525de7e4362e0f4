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
    // What could not be put back and why; empty when everything was.
    std::string failure;

    bool whole() const { return failure.empty(); }
};

// Puts back the changes the records name, newest first: every kept file
// renamed back over its place, every added file and folder removed, each
// folder synced after its change. Changes that were never made, or were
// already put back by an earlier try, are passed over, so it may run again
// on the same records after any interruption. Stops at the first change
// that cannot be put back.
Restoration undoChanges(const JournalFolder& journal, const std::vector<JournalRecord>& records);

// "3 files restored, 2 added files and 1 added folder removed", and the
// folders left.
std::string describeRestoration(const Restoration& restoration);

} // namespace updater
