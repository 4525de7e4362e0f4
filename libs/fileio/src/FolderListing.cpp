#include "fileio/FolderListing.h"

#include "fileio/UniqueFd.h"

#include <cerrno>
#include <dirent.h>
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

} // namespace

std::optional<std::vector<FolderEntry>> folderEntries(int folder) {
    if (::lseek(folder, 0, SEEK_SET) != 0) {
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    alignas(dirent64) char buffer[4096];
    for (;;) {
        const ssize_t length = ::getdents64(folder, buffer, sizeof buffer);
        if (length < 0) {
            return std::nullopt;
        }
        if (length == 0) {
            return entries;
        }
        for (ssize_t at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                entries.push_back({name, entry->d_type == DT_DIR});
            }
            at += entry->d_reclen;
        }
    }
}

std::optional<std::vector<FolderEntry>> folderEntries(const std::string& path) {
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        return std::nullopt;
    }
    auto entries = folderEntries(folder.get());
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
