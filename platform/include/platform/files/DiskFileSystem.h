#pragma once

#include "platform/files/FileSystem.h"

#include <memory>
#include <vector>

namespace platform {

class KnownFolders;

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
    std::uint64_t sizeOfCopy(const std::string& source) const override;
    bool isSymbolicLink(const std::string& path) const override;
    std::string resolve(const std::string& path) const override;
    void setChangeJournal(ChangeJournal* journal) override { m_journal = journal; }

private:
    struct Sources {
        std::string folder;
        std::vector<std::string> names;
    };
    // The folder and names of the files a copy's source names; the
    // folder missing raises path not found, an unlistable one its error.
    Sources sourcesOf(const std::string& sourcePath, const std::string& label) const;
    void copyOne(const std::string& from, const std::string& to, const std::string& label);

    ChangeJournal* m_journal = nullptr;
    // What lookups learned of the folders' names, kept for the next lookup.
    std::unique_ptr<KnownFolders> m_known;
};

} // namespace platform
