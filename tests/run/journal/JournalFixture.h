#pragma once

// What the journal's tests share: an installation with a package unpacked
// into its temp folder, and the file seam set to refuse or cut what a
// machine would.
#include "fileio/SystemCalls.h"
#include "fixtures/InstructionFixture.h"
#include "testsupport/TempDir.h"

#include <cerrno>
#include <string>
#include <sys/types.h>

// Thrown from the file seam: the run stops where it is, with nothing of its
// own handling run, as a kill would stop it.
struct Cut {};

// The system's calls, but a second name in the journal is refused the way
// a file system without hard links refuses it.
fileio::SystemCalls withoutSecondNames();
// The system's calls, but no kept file can be renamed back: with EIO, or
// with EXDEV, as when the journal lies on another file system than the
// file's place.
fileio::SystemCalls keptFilesStuck(int error = EIO);
// The system's calls, but the commit point is never reached.
fileio::SystemCalls cutAtTheCommit();
// The system's calls, but the updater's own new program never takes its
// place: the run is cut there, or with an error, the rename is refused.
fileio::SystemCalls atTheProgramsPlace(int error = 0);
// The calls a user meets in a folder root owns and the user may only read,
// on a system with protected hard links: nothing can be made, renamed or
// removed in it, and none of its files linked. With cutAtTheCopy, the first
// copy into it is cut instead of refused.
fileio::SystemCalls readOnlyFolder(const std::string& folder, bool cutAtTheCopy = false);

// An installation with a package unpacked into its temp folder. Installed
// files carry a modification time of long ago, so that a copy in their
// place would show.
class JournalFixture : public InstructionFixture {
protected:
    JournalFixture();

    void installed(const std::string& name, const std::string& content, mode_t mode);
    std::string journal() const { return app(".updater-journal"); }

    // Runs the instructions and cuts the run at its commit point, as a kill
    // would: the installation is half new and its journal stays.
    void cutShort(const std::string& instructions);
    // The next start's recovery in the installation at folder, told to its
    // log as a run tells it; whether it left a whole installation.
    bool recoverAt(const std::string& folder);
};

// Every kind of change the instruction file makes inside the installation:
// 2 files replaced, 2 added, 2 folders made.
extern const std::string everyKind;
