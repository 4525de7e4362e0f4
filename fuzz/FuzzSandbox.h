#pragma once

#include "fileio/FolderListing.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

// A folder of the fuzz target's own, made on first use and kept for the
// whole run, then removed when the run ends (a run that stops on a finding
// leaves it for a look). It lies in memory (/dev/shm) where the system has
// that: every execution makes, syncs and deletes files, and on a disk shared
// with other work one sync can take longer than the rest of the execution.
// Elsewhere it lies under the system's temporary folder.
inline const std::string& fuzzSandbox(const char* name) {
    struct Sandbox {
        std::string path;
        explicit Sandbox(const char* prefix) {
            for (const std::string& parent :
                 {std::string("/dev/shm"), std::filesystem::temp_directory_path().string()}) {
                std::string pattern = parent + "/" + prefix + "-XXXXXX";
                if (mkdtemp(pattern.data()) != nullptr) {
                    path = pattern;
                    return;
                }
            }
            std::abort();
        }
        ~Sandbox() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Sandbox sandbox(name);
    return sandbox.path;
}

// The entries of the open folder fd (fileio's listing allocates no 32 KiB
// stream per folder: every execution lists several); none when it cannot be
// read.
inline std::vector<fileio::FolderEntry> namesIn(int fd) {
    return fileio::folderEntries(fd).value_or(std::vector<fileio::FolderEntry>{});
}

// Removes everything in the open folder fd, and closes it. Names are taken
// relative to each open folder, so no path is looked up from the root again.
inline void emptyOpenFolder(int fd) {
    for (const auto& [name, folder] : namesIn(fd)) {
        // A name whose type the listing did not tell is tried as a file first.
        if (folder || unlinkat(fd, name.c_str(), 0) != 0) {
            const int inner =
                openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner >= 0) {
                emptyOpenFolder(inner);
                unlinkat(fd, name.c_str(), AT_REMOVEDIR);
            }
        }
    }
    close(fd);
}

// Empties a folder of the sandbox for the next execution, which then starts
// from the folder as the run made it instead of making it again.
inline void emptyFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        emptyOpenFolder(fd);
    }
}
