#pragma once

#include "platform/files/FileSystem.h"

#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace platform {

class KnownFolders;
class ReplacementFile;

// The file-system service on the local disk.
class DiskFileSystem : public FileSystem {
public:
    DiskFileSystem();
    ~DiskFileSystem() override;
    DiskFileSystem(const DiskFileSystem&) = delete;
    DiskFileSystem& operator=(const DiskFileSystem&) = delete;

    bool FolderExists(const std::string& path) const override;
    void CreateFolder(const std::string& path) override;
    void DeleteFolder(const std::string& path, bool force = false) override;
    bool FileExists(const std::string& path) const override;
    std::string GetFileVersion(const std::string& path) const override;
    void CopyFile(const std::string& source, const std::string& destination,
                  bool overwrite = true) override;
    std::uint64_t sizeOfCopy(const std::string& source,
                             const std::string& destination) const override;
    bool isSymbolicLink(const std::string& path) const override;
    std::string resolve(const std::string& path) const override;
    void setChangeJournal(ChangeJournal* journal) override { m_journal = journal; }
    void setSharedSources(const std::string& folder) override;

private:
    struct Sources {
        std::string folder;
        std::vector<std::string> names;
    };
    // The folder and names of the files a copy's source names; the
    // folder missing raises path not found, an unlistable one its error.
    Sources sourcesOf(const std::string& sourcePath, const std::string& label) const;
    void copyOne(const std::string& from, const std::string& to, const std::string& label);
    // The folder a copy's targets lie in, and whether the destination names
    // it (a pattern or a trailing "/") or the target itself.
    std::pair<std::string, bool> targetFolderOf(const std::string& source,
                                                const std::string& destination) const;
    // The source itself as the copy, when it may be shared (see
    // setSharedSources) and can have a second name beside the target.
    std::unique_ptr<ReplacementFile> sharedReplacement(int input, const struct stat& status,
                                                       const std::string& from,
                                                       const std::string& to) const;

    // Whether the copy of the file open as status, from from to a file in
    // targetFolder, can be the file itself.
    bool mayShare(const struct stat& status, const std::string& from,
                  const std::string& targetFolder) const;

    ChangeJournal* m_journal = nullptr;
    std::string m_sharedSources;
    // The shared files sizeOfCopy has counted once (device, inode).
    mutable std::set<std::pair<dev_t, ino_t>> m_countedShares;
    // What lookups learned of the folders' names, kept for the next lookup.
    std::unique_ptr<KnownFolders> m_known;
};

} // namespace platform
