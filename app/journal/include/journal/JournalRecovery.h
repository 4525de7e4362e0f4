#pragma once

#include "app/InstallationPaths.h"
#include "journal/JournalUndo.h"
#include "platform/files/FileSystem.h"

#include <string>
#include <vector>

namespace updater {

// What the start found of an earlier update and did about it.
struct Recovery {
    enum class Outcome {
        nothing,    // no journal, or one another running update holds
        rolledBack, // the update had not finished: the installation is as before it
        finished,   // the update was complete: its kept files and temp folder are gone
        failed,     // the installation could not be made whole; the journal stays
    };
    Outcome outcome = Outcome::nothing;
    // For the log: what was done and how many files it concerned, or what
    // could not be done.
    std::string report;
    // What a rollback left as it was, for undoing it was not safe.
    std::vector<LeftChange> left;
};

// Finishes the journal an update left when it was killed or could not undo
// its changes, under the installation's lock: an incomplete journal is
// rolled back, a complete one finished (the updater's own new program put in
// its place, the kept files removed, the temp folder deleted, the journal
// removed). When another update holds the lock,
// the journal is that update's own and is left alone. A copied or moved
// installation puts back its own files from the journal it carries, and
// leaves changes outside it to the installation folder that made them.
// Never raises.
Recovery recoverEarlierUpdate(const InstallationPaths& paths, platform::FileSystem& fileSystem);

// The same, for a caller that already holds the installation's lock (a
// second lock of the folder from the same process would find it busy).
Recovery recoverLockedInstallation(const InstallationPaths& paths,
                                   platform::FileSystem& fileSystem);

} // namespace updater
