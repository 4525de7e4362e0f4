#include "platform/files/FolderListing.h"

#include "fileio/UniqueFd.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>

namespace platform {

std::optional<std::vector<std::string>> folderEntries(const std::string& path) {
    const fileio::UniqueFd folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        return std::nullopt;
    }
    return folderEntries(folder.get());
}

std::optional<std::vector<std::string>> folderEntries(int folder) {
    // The stream takes a descriptor of its own, so the caller's stays open.
    fileio::UniqueFd listing(dup(folder));
    DIR* dir = listing ? fdopendir(listing.get()) : nullptr;
    if (dir == nullptr) {
        return std::nullopt;
    }
    // From here on the stream closes it.
    listing.release();
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
        errno = 0;
    }
    const int reason = errno;
    closedir(dir);
    if (reason != 0) {
        errno = reason;
        return std::nullopt;
    }
    return names;
}

} // namespace platform
