#include "Release.h"

#include "ReleaseNames.h"
#include "delta/ChunkMap.h"
#include "delta/Manifest.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "publisher/PublishError.h"
#include "text/LetterCase.h"
#include "text/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

namespace publisher {

namespace fs = std::filesystem;

namespace {

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

bool isHidden(const std::string& name) {
    return !name.empty() && name.front() == '.';
}

std::vector<fs::directory_entry> sortedEntries(const fs::path& folder) {
    std::vector<fs::directory_entry> entries;
    std::error_code failure;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure)) {
        entries.push_back(*it);
    }
    if (failure) {
        throw PublishError("cannot read the folder " + folder.string() + ": " + failure.message());
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename().string() < b.path().filename().string();
    });
    return entries;
}

class ReleaseWalk {
public:
    explicit ReleaseWalk(Release& release) : m_release(release) {}

    void walk(const fs::path& absolute, const std::string& relative) {
        std::map<std::u32string, std::string> namesHere;
        for (const fs::directory_entry& entry : sortedEntries(absolute)) {
            const std::string name = entry.path().filename().string();
            const std::string path = joined(relative, name);
            if (!text::isUtf8(name)) {
                throw PublishError(
                    "cannot publish " + text::withStrayBytesShown(path) +
                    ": its name is not UTF-8 (the bytes that are not are shown as \\xNN), so "
                    "the update would install it under another name; rename it in UTF-8");
            }
            const auto [twin, added] = namesHere.emplace(text::foldCase(name), path);
            if (!added) {
                throw PublishError(twin->second + " and " + path +
                                   " differ only in letter case, which the installation does "
                                   "not tell apart");
            }
            const fs::file_status status = entry.symlink_status();
            if (fs::is_symlink(status)) {
                throw PublishError(path + " is a symbolic link; a release holds files and "
                                          "folders only");
            }
            if (fs::is_directory(status)) {
                checkName(name, path, true, relative.empty());
                m_release.folders.push_back(path);
                notePackageName(name, path, relative.empty());
                walk(entry.path(), path);
            } else if (fs::is_regular_file(status)) {
                checkName(name, path, false, relative.empty());
                addFile(entry, relative, name, path);
                notePackageName(name, path, relative.empty());
            } else {
                throw PublishError(path + " is neither a file nor a folder");
            }
        }
    }

    // Without an instruction file of its own the release gets one at the
    // top, every package carries its manifest there, and a package with a
    // chunked file its chunk map: the update unpacks every file into one
    // folder, so no file of the release may share a name with any of them.
    // Without a chunk map the name is the release's to use.
    void checkNamesTheToolWrites() {
        if (!m_release.hasInstructionFile) {
            refuseClash(instructionFileName, " (the one this tool writes)");
        }
        refuseClash(std::string(delta::manifestEntryName), " (the package's manifest)");
        if (m_release.hasChunkMap()) {
            refuseClash(std::string(delta::chunkMapEntryName), " (the package's chunk map)");
        }
    }

private:
    void refuseClash(const std::string& name, const std::string& what) const {
        const auto clash = m_fileByName.find(text::foldCase(name));
        if (clash != m_fileByName.end()) {
            throw PublishError(twoFilesText(clash->second, name + what));
        }
    }

    static void checkName(const std::string& name, const std::string& path, bool isFolder,
                          bool atTop) {
        const std::string reason = refusedNameReason(name, isFolder, atTop);
        if (!reason.empty()) {
            throw PublishError("cannot publish " + text::withStrayBytesShown(path) + ": " + reason);
        }
    }

    static std::string twoFilesText(const std::string& first, const std::string& second) {
        return "two files share one name: " + first + " and " + second +
               "; the update unpacks every file into one folder, so only one of them could "
               "arrive. Rename one of them.";
    }

    // The tree of a folder leaves out its hidden entries: those are named
    // one by one.
    void notePackageName(const std::string& name, const std::string& path, bool atTop) {
        if (atTop || isHidden(name)) {
            m_release.packageNames.push_back(path);
        }
    }

    void addFile(const fs::directory_entry& entry, const std::string& folder,
                 const std::string& name, const std::string& path) {
        const auto [other, added] = m_fileByName.emplace(text::foldCase(name), path);
        if (!added) {
            throw PublishError(twoFilesText(other->second, path));
        }
        struct stat status {};
        if (::lstat(entry.path().c_str(), &status) != 0) {
            throw PublishError("cannot read " + path + ": " + std::strerror(errno));
        }
        ReleaseFile file;
        file.path = path;
        file.folder = folder;
        file.name = name;
        file.size = static_cast<std::uintmax_t>(status.st_size);
        file.executable = (status.st_mode & S_IXUSR) != 0;
        file.mode = static_cast<std::uint16_t>(status.st_mode & 07777);
        file.stamp = stampOf(status);
        if (folder.empty() && text::foldCase(name) == text::foldCase(instructionFileName)) {
            m_release.hasInstructionFile = true;
        }
        m_release.files.push_back(file);
    }

    Release& m_release;
    std::map<std::u32string, std::string> m_fileByName;
};

PublishError changedWhilePacked(const std::string& path, const std::string& how) {
    return PublishError(path + " changed while it was being packed (" + how + ")" + publishAgain);
}

} // namespace

fileio::UniqueFd openAsRead(const Release& release, const ReleaseFile& file) {
    struct stat status {};
    fileio::UniqueFd fd = fileio::openRegularFile(release.root + "/" + file.path, status);
    if (!fd) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            throw PublishError(file.path + " disappeared while it was being packed" + publishAgain);
        }
        if (status.st_mode != 0) {
            throw changedWhilePacked(file.path, std::string("it is now ") +
                                                    fileio::notAFileKind(status.st_mode) +
                                                    ", not a file");
        }
        throw PublishError("cannot read " + file.path + ": " + fileio::systemReason(error));
    }
    const FileStamp now = stampOf(status);
    if (now.size != file.stamp.size) {
        throw changedWhilePacked(file.path, "it had " + std::to_string(file.stamp.size) +
                                                " bytes when the release was read and has " +
                                                std::to_string(now.size) + " now");
    }
    if (now.device != file.stamp.device || now.inode != file.stamp.inode) {
        throw changedWhilePacked(file.path, "another file took its place");
    }
    if (now != file.stamp) {
        throw changedWhilePacked(file.path, "it was modified");
    }
    return fd;
}

FileStamp stampOf(const struct stat& status) {
    return {static_cast<std::uintmax_t>(status.st_dev), static_cast<std::uintmax_t>(status.st_ino),
            static_cast<std::uintmax_t>(status.st_size), status.st_mtim.tv_sec,
            status.st_mtim.tv_nsec};
}

bool Release::hasChunkMap() const {
    return std::any_of(files.begin(), files.end(),
                       [this](const ReleaseFile& file) { return chunked(file); });
}

Release readRelease(const std::string& folder, std::uint64_t chunkedFrom) {
    std::error_code failure;
    const fs::file_status status = fs::status(folder, failure);
    if (!fs::exists(status)) {
        throw PublishError("the release folder " + folder + " does not exist");
    }
    if (!fs::is_directory(status)) {
        throw PublishError(folder + " is not a folder; name the folder that holds the release");
    }
    Release release;
    release.chunkedFrom = chunkedFrom;
    release.root = fs::canonical(folder, failure).string();
    if (failure) {
        throw PublishError("cannot read the release folder " + folder + ": " + failure.message());
    }
    ReleaseWalk walk(release);
    walk.walk(release.root, "");
    if (release.files.empty()) {
        throw PublishError("the release folder " + folder + " holds no files");
    }
    walk.checkNamesTheToolWrites();
    return release;
}

} // namespace publisher
