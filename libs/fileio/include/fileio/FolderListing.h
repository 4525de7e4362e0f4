#pragma once

// The entries of a folder, read straight from the kernel into a buffer on the
// stack: a listing stream allocates 32 KiB for every folder it lists, and the
// zip library and the fuzz targets list many small folders.

#include <dirent.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace fileio {

struct FolderEntry {
    std::string name;
    // Known to be a folder; a name whose type the file system does not tell
    // counts as no folder, for the caller to look at itself.
    bool folder = false;
};

// Calls visit(name, folder) for each entry of the open folder from where its
// descriptor stands, without "." and "..", in the order the system gives
// them, and allocates nothing itself. visit may remove the entry it is given.
// False when the folder cannot be read, with errno telling why.
template <typename Visit> bool visitFolder(int folder, Visit&& visit) {
    alignas(dirent64) char buffer[4096];
    for (;;) {
        const ssize_t length = ::getdents64(folder, buffer, sizeof buffer);
        if (length <= 0) {
            return length == 0;
        }
        for (ssize_t at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") {
                visit(name, entry->d_type == DT_DIR);
            }
            at += entry->d_reclen;
        }
    }
}

// The entries of the open folder from its first, as visitFolder gives them;
// nothing when it cannot be read, with errno telling why. The descriptor
// stays open.
std::optional<std::vector<FolderEntry>> folderEntries(int folder);
// The same for the folder at path.
std::optional<std::vector<FolderEntry>> folderEntries(const std::string& path);

// Only the names of those entries.
std::optional<std::vector<std::string>> folderNames(int folder);
std::optional<std::vector<std::string>> folderNames(const std::string& path);

} // namespace fileio
