#pragma once

// The names of files and folders: linking, renaming, removing and making
// them, and making a folder's names durable. Each call returns 0 or the
// errno value of the failure, for the caller to report in its own terms,
// and goes through fileio/SystemCalls.h, so that a test can refuse a link or
// watch every change a power cut would cut short. A rename or a new name is
// on disk only once its folder has been synced (syncFolder).

#include <string>
#include <sys/types.h>

namespace fileio {

// A second name for an existing entry; a symbolic link gets a second name
// itself, not what it points to.
[[nodiscard]] int linkName(const std::string& existing, const std::string& name);
// A name for the file open on fd, which may have none yet (O_TMPFILE).
[[nodiscard]] int linkDescriptor(int fd, const std::string& name);
// Renames from over to, replacing whatever to names (rename(2)); the form
// with folders names each relative to the folder open there (renameat(2)).
[[nodiscard]] int renameName(const std::string& from, const std::string& to);
[[nodiscard]] int renameNameAt(int fromFolder, const std::string& from, int toFolder,
                               const std::string& to);
// Removes a name of a file, or an empty folder with AT_REMOVEDIR
// (unlinkat(2)); the path form is relative to the working folder.
[[nodiscard]] int removeName(int folder, const std::string& name, int flags);
[[nodiscard]] int removeFile(const std::string& path);
[[nodiscard]] int removeFolder(const std::string& path);
[[nodiscard]] int makeFolder(const std::string& path, mode_t mode);

// Flushes the folder's entries to the disk: every name made, renamed or
// removed in it so far survives a power cut.
[[nodiscard]] int syncFolder(const std::string& path);
// Flushes everything written so far to the file system that holds path, to
// its disk: every file's content and every folder's names (syncfs(2)). One
// call in place of one sync per file when many files were written.
[[nodiscard]] int syncFileSystem(const std::string& path);

} // namespace fileio
