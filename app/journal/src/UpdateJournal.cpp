#include "journal/UpdateJournal.h"

#include "app/SourceLabels.h"

#include "app/InstallationPaths.h"
#include "fileio/Names.h"
#include "fileio/Writing.h"
#include "journal/JournalPaths.h"
#include "platform/Error.h"
#include "platform/files/PathPlace.h"
#include "platform/files/PathText.h"
#include "platform/files/ReplacementFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace updater {

namespace {

const char* const source = sources::journal;

// The file system allows no second name here: the file is copied instead.
bool linkImpossible(int error) {
    return error == EXDEV || error == EPERM || error == EMLINK || error == EOPNOTSUPP ||
           error == ENOTSUP;
}

} // namespace

UpdateJournal::UpdateJournal(const std::string& installFolder)
    : m_folder(installFolder), m_installation(platform::canonicalPath(installFolder)),
      m_program(platform::nameOf(InstallationPaths(installFolder).updaterProgram())) {}

void UpdateJournal::begin() {
    if (m_begun) {
        return;
    }
    if (m_committed) {
        platform::raiseError(platform::ErrorNumber::invalidCall, source,
                             "the update is complete; it changes nothing more");
    }
    if (const int error = fileio::makeFolder(m_folder.path(), 0700)) {
        if (error == EEXIST) {
            platform::raiseError(platform::ErrorNumber::fileAlreadyExists, source,
                                 m_folder.path() + " holds the journal of an earlier update");
        }
        throw platform::systemError(error, source, m_folder.path());
    }
    m_begun = true;
    m_installDirty = true;
    m_records = fileio::openFile(m_folder.records(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
    if (!m_records) {
        throw platform::systemError(errno, source, m_folder.records());
    }
    m_folderDirty = true;
    if (const int error = fileio::writeAll(m_records.get(), journalHeader(m_installation))) {
        throw platform::systemError(error, source, m_folder.records());
    }
    m_recordsDirty = true;
}

void UpdateJournal::append(JournalRecord record) {
    const std::string target = record.path;
    if (target.find('\0') != std::string::npos) {
        platform::raiseError(platform::ErrorNumber::pathNotFound, source,
                             "a path with a NUL byte names no file");
    }
    if (m_folder.holds(target)) {
        platform::raiseError(platform::ErrorNumber::permissionDenied, source,
                             target + " lies in the update's own journal");
    }
    record.path = journalPath(m_installation, target);
    begin();
    if (const int error = fileio::writeAll(m_records.get(), recordLine(record))) {
        throw platform::systemError(error, source, m_folder.records());
    }
    m_written.push_back(std::move(record));
    m_recordsDirty = true;
}

void UpdateJournal::keepReplaced(const std::string& target) {
    // What stands there now, so that an undo can tell whether the change
    // was made at all.
    struct stat status {};
    if (lstat(target.c_str(), &status) != 0) {
        throw platform::systemError(errno, source, target);
    }
    const unsigned number = ++m_kept;
    append({JournalRecord::Kind::kept, target, number, identityOf(status), std::nullopt});
    const int error = fileio::linkName(target, m_folder.kept(number));
    if (linkImpossible(error)) {
        keepCopy(target, number);
    } else if (error != 0) {
        throw platform::systemError(error, source, target);
    }
    m_folderDirty = true;
}

void UpdateJournal::keepCopy(const std::string& target, unsigned number) {
    const fileio::UniqueFd input(open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!input || fstat(input.get(), &status) != 0) {
        throw platform::systemError(errno, source, target);
    }
    if (!S_ISREG(status.st_mode)) {
        platform::raiseError(platform::ErrorNumber::permissionDenied, source,
                             target + " can be neither linked nor copied to keep it");
    }
    platform::ReplacementFile copy(m_folder.kept(number), source);
    copy.copyFrom(input.get(), target);
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    copy.finish(status.st_mode & 0777, times);
    copy.commit();
}

void UpdateJournal::noteAdded(const std::string& target, const struct stat& from) {
    append({JournalRecord::Kind::added, target, 0, std::nullopt, placedFileOf(from)});
}

std::string UpdateJournal::placeFor(const std::string& target) {
    if (journalPath(m_installation, target) != m_program) {
        return target;
    }
    begin();
    return m_folder.program();
}

void UpdateJournal::noteFolder(const std::string& folder) {
    append({JournalRecord::Kind::folder, folder, 0, std::nullopt, std::nullopt});
}

void UpdateJournal::makeDurable() {
    if (m_recordsDirty) {
        if (const int error = fileio::syncFile(m_records.get())) {
            throw platform::systemError(error, source, m_folder.records());
        }
        m_recordsDirty = false;
    }
    if (m_folderDirty) {
        if (const int error = fileio::syncFolder(m_folder.path())) {
            throw platform::systemError(error, source, m_folder.path());
        }
        m_folderDirty = false;
    }
    if (m_installDirty) {
        if (const int error = fileio::syncFolder(m_folder.installFolder())) {
            throw platform::systemError(error, source, m_folder.installFolder());
        }
        m_installDirty = false;
    }
}

void UpdateJournal::syncBeforeCommit(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        throw platform::systemError(errno, source, path);
    }
    m_unsynced.try_emplace(status.st_dev, path);
}

void UpdateJournal::commit() {
    if (!m_begun) {
        return;
    }
    for (const auto& [device, path] : m_unsynced) {
        if (const int error = fileio::syncFileSystem(path)) {
            throw platform::systemError(error, source, path);
        }
    }
    makeDurable();
    // A late write error shows at the close; it must stop the commit.
    if (!m_records.close()) {
        throw platform::systemError(errno, source, m_folder.records());
    }
    if (const int error = fileio::renameName(m_folder.records(), m_folder.complete())) {
        throw platform::systemError(error, source, m_folder.complete());
    }
    m_committed = true;
    if (const int error = fileio::syncFolder(m_folder.path())) {
        throw platform::systemError(error, source, m_folder.path());
    }
    m_folder.placeProgram();
}

void UpdateJournal::removeKept() {
    if (m_begun) {
        m_folder.removeKept();
    }
}

void UpdateJournal::remove() {
    if (m_begun) {
        m_folder.remove();
        m_begun = false;
    }
}

Restoration UpdateJournal::rollBack() {
    if (!started()) {
        return {};
    }
    m_records.reset();
    // A commit cut short after its rename must not leave the journal marked
    // complete over a half-restored installation.
    struct stat status {};
    if (lstat(m_folder.complete().c_str(), &status) == 0) {
        int error = fileio::renameName(m_folder.complete(), m_folder.records());
        if (error == 0) {
            error = fileio::syncFolder(m_folder.path());
        }
        if (error != 0) {
            Restoration failed;
            failed.failure = "could not take back the commit of " + m_folder.complete();
            return failed;
        }
    }
    m_committed = false;
    Restoration result = undoChanges(m_folder, m_written, UndoScope::everyChange);
    if (result.whole()) {
        try {
            remove();
        } catch (const platform::Error& failure) {
            result.failure = "could not remove the journal: " + failure.description();
        }
    }
    return result;
}

} // namespace updater
