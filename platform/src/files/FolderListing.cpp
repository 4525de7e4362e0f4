#include "platform/files/FolderListing.h"

#include "fileio/FolderListing.h"

namespace platform {

std::optional<std::vector<std::string>> folderEntries(const std::string& path) {
    return fileio::folderNames(path);
}

std::optional<std::vector<std::string>> folderEntries(int folder) {
    return fileio::folderNames(folder);
}

} // namespace platform
