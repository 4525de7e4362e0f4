#pragma once

#include "platform/files/FileSystem.h"

namespace platform {

// The file-system service on the local disk.
class DiskFileSystem : public FileSystem {
public:
    bool FolderExists(const std::string& path) const override;
    void CreateFolder(const std::string& path) override;
    void DeleteFolder(const std::string& path, bool force = false) override;
    bool FileExists(const std::string& path) const override;
    std::string GetFileVersion(const std::string& path) const override;
    void CopyFile(const std::string& source, const std::string& destination,
                  bool overwrite = true) override;
    bool isSymbolicLink(const std::string& path) const override;
    std::string resolve(const std::string& path) const override;
    void setChangeJournal(ChangeJournal* journal) override { m_journal = journal; }

private:
    void copyOne(const std::string& from, const std::string& to, const std::string& label);

    ChangeJournal* m_journal = nullptr;
};

} // namespace platform
