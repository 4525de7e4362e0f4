#include "fileio/FolderListing.h"

#include "fileio/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace fileio {

namespace {

std::optional<std::vector<std::string>> namesOf(std::optional<std::vector<FolderEntry>> entries) {
    if (!entries) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    names.reserve(entries->size());
    for (FolderEntry& entry : *entries) {
        names.push_back(std::move(entry.name));
    }
    return names;
}

// The entries from where the descriptor stands.
std::optional<std::vector<FolderEntry>> entriesFromHere(int folder) {
    std::vector<FolderEntry> entries;
    const bool read = visitFolder(folder, [&entries](std::string_view name, bool isFolder) {
        entries.push_back({std::string(name), isFolder});
    });
    if (!read) {
        return std::nullopt;
    }
    return entries;
}

} // namespace

std::optional<std::vector<FolderEntry>> folderEntries(int folder) {
    if (::lseek(folder, 0, SEEK_SET) != 0) {
        return std::nullopt;
    }
    return entriesFromHere(folder);
}

std::optional<std::vector<FolderEntry>> folderEntries(const std::string& path) {
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        return std::nullopt;
    }
    // Just opened: it stands at the first entry.
    auto entries = entriesFromHere(folder.get());
    // The close must not change what errno tells of the listing.
    const int reason = errno;
    folder.reset();
    errno = reason;
    return entries;
}

std::optional<std::vector<std::string>> folderNames(int folder) {
    return namesOf(folderEntries(folder));
}

std::optional<std::vector<std::string>> folderNames(const std::string& path) {
    return namesOf(folderEntries(path));
}

} // namespace fileio
