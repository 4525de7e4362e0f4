#pragma once

// The entries of a folder, read straight from the kernel into a buffer on the
// stack: a listing stream allocates 32 KiB for every folder it lists, and the
// zip library and the fuzz targets list many small folders.

#include <optional>
#include <string>
#include <vector>

namespace fileio {

struct FolderEntry {
    std::string name;
    // Known to be a folder; a name whose type the file system does not tell
    // counts as no folder, for the caller to look at itself.
    bool folder = false;
};

// The entries of the open folder from its first, without "." and "..", in
// the order the system gives them; nothing when it cannot be read, with
// errno telling why. The descriptor stays open.
std::optional<std::vector<FolderEntry>> folderEntries(int folder);
// The same for the folder at path.
std::optional<std::vector<FolderEntry>> folderEntries(const std::string& path);

// Only the names of those entries.
std::optional<std::vector<std::string>> folderNames(int folder);
std::optional<std::vector<std::string>> folderNames(const std::string& path);

} // namespace fileio
