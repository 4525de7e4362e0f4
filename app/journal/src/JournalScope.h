#pragma once

#include "journal/JournalRecords.h"
#include "journal/JournalUndo.h"

#include <string>
#include <vector>

namespace updater {

// What the installation that finishes a journal puts back of it: the
// records, each path as the installation names it, and whether changes
// outside the installation are its own to undo.
struct JournalScope {
    std::vector<JournalRecord> records;
    UndoScope scope = UndoScope::everyChange;
    // Why changes outside the installation are left, for the log; empty
    // when they are not.
    std::string outsideOwner;
};

// The scope of a journal found in the installation at installFolder. A
// journal says which installation folder wrote it; only that folder undoes
// its changes outside the installation, for a copied or moved installation
// holds the original's journal. A journal of the first format said neither
// that nor which paths were the installation's: a path that lies in this
// installation is taken as its own, and the journal as written here when
// one does (or it names none); when all lie elsewhere it was carried here,
// and nothing outside is undone.
JournalScope scopeOf(JournalContents contents, const std::string& installFolder);

} // namespace updater
