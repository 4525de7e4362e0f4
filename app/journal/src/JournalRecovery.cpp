#include "journal/JournalRecovery.h"

#include "app/SourceLabels.h"

#include "JournalScope.h"
#include "fileio/Reading.h"
#include "journal/JournalFolder.h"
#include "journal/JournalRecords.h"
#include "journal/JournalUndo.h"
#include "platform/Error.h"
#include "platform/files/FolderLock.h"

#include <cerrno>
#include <exception>
#include <optional>
#include <sys/stat.h>

namespace updater {

namespace {

const char* const source = sources::updateRun;

bool present(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

std::string readWhole(const std::string& path) {
    std::string text;
    if (const int error = fileio::readWholeFile(path, text)) {
        throw platform::systemError(error, source, path);
    }
    return text;
}

Recovery finish(const JournalFolder& journal, const InstallationPaths& paths,
                platform::FileSystem& fileSystem) {
    const bool program = journal.placeProgram();
    const unsigned cleaned = journal.removeKept();
    std::string report = "an update cut short after it was complete was finished: " +
                         std::string(program ? "the updater's own program put in place, " : "") +
                         std::to_string(cleaned) + (cleaned == 1 ? " kept file" : " kept files") +
                         " cleaned up";
    // The installation is whole and new: a temp folder that will not go is
    // no reason to keep the journal, and the next download empties it.
    try {
        if (fileSystem.FolderExists(paths.tempFolder())) {
            fileSystem.DeleteFolder(paths.tempFolder(), true);
        }
    } catch (const std::exception& failure) {
        report += "; the temp folder stays: " + std::string(failure.what());
    }
    journal.remove();
    return {Recovery::Outcome::finished, report, {}};
}

// What the rollback left outside the installation, for its log line.
std::string outsideReport(const Restoration& restoration, const JournalScope& scope) {
    if (restoration.outsideLeft == 0) {
        return {};
    }
    return "; " + std::to_string(restoration.outsideLeft) +
           (restoration.outsideLeft == 1
                ? " change outside this installation was left as it is, for "
                : " changes outside this installation were left as they are, for ") +
           scope.outsideOwner;
}

Recovery rollBack(const JournalFolder& journal, const InstallationPaths& paths) {
    // A journal cut short before its records file was made recorded no change.
    const JournalScope scope =
        present(journal.records())
            ? scopeOf(readJournal(readWhole(journal.records()), journal.records()), paths.folder())
            : JournalScope{};
    Restoration restoration = undoChanges(journal, scope.records, scope.scope);
    if (!restoration.whole()) {
        return {Recovery::Outcome::failed,
                "an update cut short could not be rolled back: " + restoration.failure +
                    "; the files it replaced are kept in " + journal.path() +
                    ", and the next start tries again",
                std::move(restoration.left)};
    }
    journal.remove();
    const std::string done = restoration.left.empty()
                                 ? ", the installation is as it was before it: "
                                 : " as far as it safely could be: ";
    return {Recovery::Outcome::rolledBack,
            "an update cut short was rolled back" + done + describeRestoration(restoration) +
                outsideReport(restoration, scope),
            std::move(restoration.left)};
}

// Finishes the journal, if there is one; the caller holds the
// installation's lock, or takes it here when lockHeld is false.
Recovery recover(const InstallationPaths& paths, platform::FileSystem& fileSystem, bool lockHeld) {
    const JournalFolder journal(paths.folder());
    try {
        if (!journal.exists()) {
            return {};
        }
        std::optional<platform::FolderLock> lock;
        if (!lockHeld) {
            lock = platform::FolderLock::takeIfFree(paths.folder(), source);
            if (!lock) {
                return {};
            }
        }
        if (!journal.exists()) {
            return {};
        }
        journal.requireFolder();
        if (present(journal.complete())) {
            return finish(journal, paths, fileSystem);
        }
        return rollBack(journal, paths);
    } catch (const std::exception& failure) {
        return {Recovery::Outcome::failed,
                "an update cut short could not be finished: " + std::string(failure.what()) +
                    "; its journal stays in " + journal.path() + ", and the next start tries again",
                {}};
    }
}

} // namespace

Recovery recoverEarlierUpdate(const InstallationPaths& paths, platform::FileSystem& fileSystem) {
    return recover(paths, fileSystem, false);
}

Recovery recoverLockedInstallation(const InstallationPaths& paths,
                                   platform::FileSystem& fileSystem) {
    return recover(paths, fileSystem, true);
}

} // namespace updater
