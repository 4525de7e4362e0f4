#pragma once

#include "testsupport/TempDir.h"

#include <string>
#include <sys/types.h>
#include <vector>

// The installations the kill harness updates, and what it checks of one.
namespace killproof {

// One file of the installation: what it holds before and after the update
// (empty `before` means the update brings it).
struct InstalledFile {
    std::string name; // relative to the installation folder
    std::string packageName;
    std::string before;
    std::string after;
    // The mode it is installed with, which an update and its rollback keep.
    mode_t installedMode = 0644;
};

struct Installation {
    std::vector<InstalledFile> files;
    std::string instructions; // every line of updater.ini but a failing last one
};

// morvane.exe, 50 libraries and 5 plugins in a folder the package makes,
// every file of it changed: the whole package pays.
Installation wholePackageLayout(const testsupport::TempDir& scratch);

// The file of the changed-files installation large enough to be fetched
// by its chunks.
inline constexpr const char* chunkedName = "large.dat";

// morvane.exe, 50 libraries (44 unchanged, two of them installed with
// another mode than the release's, so that they are copied into temp
// rather than linked; one of 3 MiB changed in three places, which comes by
// its chunks) and 2 plugins in a folder the package makes; random bytes, so
// that the package is as large as its files.
Installation changedFilesLayout(const testsupport::TempDir& scratch);

// The installation as it was before the update, in a fresh folder.
void installOld(const Installation& layout, const std::string& folder);

// The release as a publisher lays it out, its updater.ini ending in lastLine.
void writeRelease(const Installation& layout, const std::string& folder,
                  const std::string& lastLine);

enum class Whole { old, whollyNew, neither };

struct Verdict {
    std::vector<std::string> torn;
    std::vector<std::string> stray;
    std::string badLog;
    Whole whole = Whole::neither;
    bool journal = false;
};

// Every file wholly old or wholly new (an installed one with the mode it
// had), nothing but the installation's own files, temp and the journal, and
// the log one record per line.
Verdict inspect(const Installation& layout, const std::string& folder);

} // namespace killproof
