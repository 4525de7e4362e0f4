#pragma once

#include <cstdlib>
#include <dirent.h>
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

// The names in the open folder fd, with whether each is a folder, read
// straight from the kernel into a buffer on the stack: a listing object
// would allocate 32 KiB for every folder, and every execution lists several.
// A name whose type the file system does not tell counts as a file.
struct FolderName {
    std::string name;
    bool folder;
};
inline std::vector<FolderName> namesIn(int fd) {
    std::vector<FolderName> names;
    alignas(8) char buffer[4096];
    for (;;) {
        const ssize_t length = getdents64(fd, buffer, sizeof buffer);
        if (length <= 0) {
            return names;
        }
        for (ssize_t at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back({name, entry->d_type == DT_DIR});
            }
            at += entry->d_reclen;
        }
    }
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
