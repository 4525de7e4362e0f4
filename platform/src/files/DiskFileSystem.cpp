#include "platform/files/DiskFileSystem.h"

#include "fileio/Names.h"
#include "fileio/UniqueFd.h"
#include "files/FolderRemoval.h"
#include "files/KnownFolders.h"
#include "files/PathCase.h"
#include "platform/Error.h"
#include "platform/files/FolderListing.h"
#include "platform/files/PathPlace.h"
#include "platform/files/PathText.h"
#include "platform/files/ReplacementFile.h"
#include "platform/version/ByteSource.h"
#include "platform/version/FileVersion.h"
#include "text/Slashes.h"
#include "text/Wildcards.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace platform {
namespace {

bool statIs(const std::string& path, mode_t type) {
    struct stat status {};
    return !path.empty() && stat(path.c_str(), &status) == 0 && (status.st_mode & S_IFMT) == type;
}

// The names of the regular files in the folder that match the pattern, in
// byte order.
std::vector<std::string> matchingFiles(const std::string& folder, const std::string& pattern,
                                       const std::string& source) {
    const auto entries = folderEntries(folder);
    if (!entries) {
        throw systemError(errno, source, folder);
    }
    std::vector<std::string> names;
    for (const std::string& name : *entries) {
        if (text::matchesIgnoringCase(name, pattern) && statIs(joinPath(folder, name), S_IFREG)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A target must be a file the copy may replace: not a folder, not read-only,
// and not there at all when overwriting is not allowed.
void checkTarget(const std::string& target, bool overwrite, const std::string& source) {
    struct stat link {};
    if (lstat(target.c_str(), &link) != 0) {
        return;
    }
    if (!overwrite) {
        raiseError(ErrorNumber::fileAlreadyExists, source, target);
    }
    struct stat status {};
    if (stat(target.c_str(), &status) != 0) {
        // A dangling link: the copy takes its place.
        return;
    }
    if (S_ISDIR(status.st_mode)) {
        raiseError(ErrorNumber::permissionDenied, source, target + " is a folder");
    }
    if ((status.st_mode & S_IWUSR) == 0) {
        raiseError(ErrorNumber::permissionDenied, source, target + " is read-only");
    }
}

} // namespace

DiskFileSystem::DiskFileSystem() : m_known(std::make_unique<KnownFolders>()) {}

DiskFileSystem::~DiskFileSystem() = default;

std::string DiskFileSystem::resolve(const std::string& path) const {
    return resolveCase(path, m_known.get());
}

bool DiskFileSystem::FolderExists(const std::string& path) const {
    return statIs(resolve(path), S_IFDIR);
}

bool DiskFileSystem::FileExists(const std::string& path) const {
    return statIs(resolve(path), S_IFREG);
}

bool DiskFileSystem::isSymbolicLink(const std::string& path) const {
    struct stat link {};
    const std::string resolved = withoutTrailingSlash(resolve(path));
    return lstat(resolved.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
}

void DiskFileSystem::CreateFolder(const std::string& path) {
    static const std::string source = "FileSystem::CreateFolder";
    const std::string folder = withoutTrailingSlash(resolve(path));
    if (folder.empty()) {
        raiseError(ErrorNumber::pathNotFound, source, path);
    }
    if (m_journal != nullptr) {
        m_journal->noteFolder(folder);
        m_journal->makeDurable();
    }
    if (const int error = fileio::makeFolder(folder, 0777)) {
        if (error == ENOENT || error == ENOTDIR) {
            raiseError(ErrorNumber::pathNotFound, source, folderOf(folder));
        }
        throw systemError(error, source, folder);
    }
    if (m_journal != nullptr) {
        m_journal->syncBeforeCommit(folderOf(folder));
    } else if (const int error = fileio::syncFolder(folderOf(folder))) {
        throw systemError(error, source, folderOf(folder));
    }
}

void DiskFileSystem::DeleteFolder(const std::string& path, bool force) {
    static const std::string source = "FileSystem::DeleteFolder";
    const std::string folder = withoutTrailingSlash(resolve(path));
    struct stat link {};
    if (!folder.empty() && lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
        statIs(folder, S_IFDIR)) {
        // A link to a folder goes, never what it points to.
        if (unlink(folder.c_str()) != 0) {
            throw systemError(errno, source, folder);
        }
        return;
    }
    removeFolderTree(folder, force, source);
}

std::string DiskFileSystem::GetFileVersion(const std::string& path) const {
    static const std::string source = "FileSystem::GetFileVersion";
    const std::string file = resolve(path);
    const auto bytes = FileByteSource::open(file);
    if (!bytes) {
        if (errno == EISDIR) {
            // Not a regular file, so no version.
            return {};
        }
        throw systemError(errno, source, file);
    }
    return readFileVersion(*bytes);
}

void DiskFileSystem::CopyFile(const std::string& source, const std::string& destination,
                              bool overwrite) {
    static const std::string label = "FileSystem::CopyFile";
    const std::string sourcePath = text::withForwardSlashes(source);
    const auto [sourceFolder, names] = sourcesOf(sourcePath, label);
    if (names.empty()) {
        raiseError(ErrorNumber::fileNotFound, label, sourcePath);
    }
    const std::string destinationPath = text::withForwardSlashes(destination);
    const auto [targetFolder, intoFolder] = targetFolderOf(sourcePath, destinationPath);
    if (!statIs(targetFolder, S_IFDIR)) {
        raiseError(ErrorNumber::pathNotFound, label, targetFolder);
    }
    std::vector<std::pair<std::string, std::string>> copies;
    for (const std::string& name : names) {
        const std::string targetName = intoFolder ? name : nameOf(destinationPath);
        copies.emplace_back(joinPath(sourceFolder, name),
                            resolve(joinPath(targetFolder, targetName)));
    }
    // Every target is checked before the first is replaced.
    for (const auto& copy : copies) {
        checkTarget(copy.second, overwrite, label);
    }
    // A copy killed before its rename left its temporary file here; no copy
    // of this run leaves one, so one look per folder is enough.
    if (m_known->firstVisit(targetFolder)) {
        ReplacementFile::removeLeftovers(targetFolder);
    }
    for (const auto& [from, to] : copies) {
        copyOne(from, to, label);
    }
}

DiskFileSystem::Sources DiskFileSystem::sourcesOf(const std::string& sourcePath,
                                                  const std::string& label) const {
    Sources sources{resolve(folderOf(sourcePath)), {}};
    const std::string sourceName = nameOf(sourcePath);
    if (!statIs(sources.folder, S_IFDIR)) {
        raiseError(ErrorNumber::pathNotFound, label, sources.folder);
    }
    if (text::hasWildcards(sourceName)) {
        sources.names = matchingFiles(sources.folder, sourceName, label);
    } else if (!sourceName.empty()) {
        const std::string file = resolve(joinPath(sources.folder, sourceName));
        if (statIs(file, S_IFREG)) {
            sources.names.push_back(nameOf(file));
        }
    }
    return sources;
}

std::pair<std::string, bool> DiskFileSystem::targetFolderOf(const std::string& source,
                                                            const std::string& destination) const {
    // A pattern or a trailing "/" makes the destination a folder.
    const bool intoFolder = text::hasWildcards(nameOf(source)) || destination.ends_with('/');
    return {resolve(intoFolder ? withoutTrailingSlash(destination) : folderOf(destination)),
            intoFolder};
}

std::uint64_t DiskFileSystem::sizeOfCopy(const std::string& source,
                                         const std::string& destination) const {
    try {
        const std::string sourcePath = text::withForwardSlashes(source);
        const std::string destinationPath = text::withForwardSlashes(destination);
        const auto [folder, names] = sourcesOf(sourcePath, {});
        const auto [targetFolder, intoFolder] = targetFolderOf(sourcePath, destinationPath);
        std::uint64_t size = 0;
        for (const std::string& name : names) {
            const std::string file = joinPath(folder, name);
            const std::string target =
                resolve(joinPath(targetFolder, intoFolder ? name : nameOf(destinationPath)));
            struct stat status {};
            struct stat existing {};
            if (stat(file.c_str(), &status) != 0 ||
                (lstat(target.c_str(), &existing) == 0 && existing.st_dev == status.st_dev &&
                 existing.st_ino == status.st_ino)) {
                continue;
            }
            const bool shared = mayShare(status, file, targetFolder) &&
                                m_countedShares.emplace(status.st_dev, status.st_ino).second;
            size += shared ? 0 : static_cast<std::uint64_t>(status.st_size);
        }
        return size;
    } catch (const Error&) {
        return 0;
    }
}

void DiskFileSystem::setSharedSources(const std::string& folder) {
    m_sharedSources = folder;
    m_countedShares.clear();
}

bool DiskFileSystem::mayShare(const struct stat& status, const std::string& from,
                              const std::string& targetFolder) const {
    struct stat folder {};
    return !m_sharedSources.empty() && status.st_nlink == 1 && S_ISREG(status.st_mode) &&
           liesWithin(from, m_sharedSources) && stat(targetFolder.c_str(), &folder) == 0 &&
           folder.st_dev == status.st_dev;
}

void DiskFileSystem::copyOne(const std::string& from, const std::string& to,
                             const std::string& label) {
    const fileio::UniqueFd input(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!input || fstat(input.get(), &status) != 0) {
        throw systemError(errno, label, from);
    }
    // A replaced file keeps its own access bits, so an installed program
    // stays runnable whatever the package recorded; a new file takes the
    // source's. Set-user-ID and the like never travel.
    struct stat existing {};
    // A target that already is the source (a second name of it) stays as it
    // is: nothing to copy, nothing to keep.
    if (lstat(to.c_str(), &existing) == 0 && existing.st_dev == status.st_dev &&
        existing.st_ino == status.st_ino) {
        return;
    }
    const bool replacing = stat(to.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    const mode_t permissions = (replacing ? existing.st_mode : status.st_mode) & 0777;
    const std::string placed = m_journal != nullptr ? m_journal->placeFor(to) : to;
    if (m_journal != nullptr) {
        // Whatever the name holds, a dangling link too, is kept to go back to.
        struct stat link {};
        if (lstat(to.c_str(), &link) == 0) {
            m_journal->keepReplaced(to);
        } else {
            m_journal->noteAdded(to, status);
        }
    }
    // Under a journal, the copies reach the disk all at once before the
    // update is complete, not one sync each: a power cut before then is
    // undone by the journal's records, which are on disk before each change.
    const auto durability = m_journal != nullptr ? ReplacementFile::Durability::later
                                                 : ReplacementFile::Durability::now;
    std::unique_ptr<ReplacementFile> replacement =
        sharedReplacement(input.get(), status, from, placed);
    if (!replacement) {
        replacement = std::make_unique<ReplacementFile>(placed, label);
        replacement->copyFrom(input.get(), from);
    }
    // Under a journal a copy keeps the source's modification time, by which
    // the journal knows a new file for the update's own.
    const struct timespec sourceTimes[2] = {{0, UTIME_OMIT}, status.st_mtim};
    replacement->finish(permissions, m_journal != nullptr ? sourceTimes : nullptr, durability);
    if (m_journal != nullptr) {
        m_journal->makeDurable();
        m_journal->syncBeforeCommit(folderOf(placed));
    }
    replacement->commit(durability);
}

std::unique_ptr<ReplacementFile> DiskFileSystem::sharedReplacement(int input,
                                                                   const struct stat& status,
                                                                   const std::string& from,
                                                                   const std::string& to) const {
    if (!mayShare(status, from, folderOf(to))) {
        return nullptr;
    }
    try {
        return std::make_unique<ReplacementFile>(to, "FileSystem::CopyFile",
                                                 ReplacementFile::Shared{input});
    } catch (const Error&) {
        // No second name here after all (a file system that refuses links,
        // protected links): the bytes are copied.
        return nullptr;
    }
}

} // namespace platform
