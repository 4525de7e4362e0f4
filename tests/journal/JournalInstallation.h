#pragma once

// An installation the journal's tests change as an update does: through the
// real file-system service with an UpdateJournal attached, the new files
// taken from its temp folder, and the file seam to count, refuse or cut
// the calls on the way.
#include "app/InstallationPaths.h"
#include "fileio/SystemCalls.h"
#include "journal/UpdateJournal.h"
#include "platform/files/DiskFileSystem.h"
#include "testsupport/TempDir.h"
#include "testsupport/TreeSnapshot.h"

#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Thrown from the file seam: the update stops where it is, with none of
// its own handling run, as a kill would stop it.
struct Cut {};

// One call of the file seam as a test sees it: which call, and the paths
// it names in full (for a write or a sync, the open file's path).
struct SeamCall {
    enum class Kind { open, write, sync, link, rename, remove, makeFolder, openBeneath };
    Kind kind;
    std::string path; // the new name of a link or a rename
    std::string from; // the old name of a link or a rename
};

// The calls in force, with every call but a close shown to cutsAt first: a
// call it answers true for is not made, and Cut is thrown in its place.
fileio::SystemCalls cutWhere(std::function<bool(const SeamCall&)> cutsAt);
// The calls in force, but a second name made in the journal fails with
// error, as on a file system that has none.
fileio::SystemCalls secondNamesRefused(int error);
// The calls in force, but a kept file is never renamed out of the journal:
// the rename fails with error.
fileio::SystemCalls keptFilesStuck(int error);

class Installation;

// One change of an update, made through the file-system service.
using Change = std::function<void(platform::FileSystem&, const Installation&)>;

// A file replaced, a symbolic link replaced by a file, a file added, a
// folder made with a file in it, and the updater's own program replaced.
extern const Change replacedFile;
extern const Change replacedLink;
extern const Change addedFile;
extern const Change madeFolder;
extern const Change ownProgram;
extern const std::vector<Change> everyKind;
// The same but the link: a link has no copy to keep where the file system
// allows no second name.
extern const std::vector<Change> everyKindButTheLink;

// An installed application with its updater, a folder and a link, and the
// new files of an update in its temp folder. Every file carries a fixed
// mode and modification time, so that two installations changed alike are
// alike to the nanosecond, and a copy in a file's place would show.
class Installation {
public:
    Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    const updater::InstallationPaths& paths() const { return m_paths; }
    std::string app(const std::string& name) const { return m_paths.folder() + "/" + name; }
    std::string temp(const std::string& name) const { return m_paths.tempFolder() + "/" + name; }
    std::string journal(const std::string& name = {}) const;
    platform::DiskFileSystem& files() { return m_files; }

    // The installation, its journal included, without its temp folder and log.
    testsupport::TreeSnapshot tree() const { return testsupport::snapshotTree(m_paths.folder()); }

    // The changes made under journal, as the instruction stage makes them:
    // the service records each in it, and the temp folder's files are taken
    // as they lie.
    void change(updater::UpdateJournal& journal, const std::vector<Change>& changes);
    // The whole update as a run makes it: the changes, the commit, the kept
    // files removed, the temp folder and then the journal.
    void update(const std::vector<Change>& changes);

    // The tree the whole update leaves in a fresh installation.
    static testsupport::TreeSnapshot updated(const std::vector<Change>& changes);

private:
    void file(const std::string& path, const std::string& bytes, mode_t mode);

    testsupport::TempDir m_root;
    updater::InstallationPaths m_paths;
    platform::DiskFileSystem m_files;
    // A sync waits for the disk and proves nothing here: a cut is a call
    // never made, and durability is the power-cut tests' business.
    fileio::ReplacedSystemCalls m_quickSyncs;
};
