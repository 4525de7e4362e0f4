#pragma once

#include "platform/Error.h"
#include "platform/files/DiskFileSystem.h"

#include <filesystem>
#include <string>

// The disk's file-system service held inside one folder: every path a call
// names must lie in the sandbox once "\" is read as "/", "." and ".." are
// taken and links are followed; anything else is refused with error 70 and
// never reaches the disk. For fuzzing what an instruction file does.
class SandboxFileSystem : public platform::FileSystem {
public:
    explicit SandboxFileSystem(const std::string& root)
        : m_root(std::filesystem::canonical(root).string()) {}

    bool FolderExists(const std::string& path) const override {
        return m_disk.FolderExists(inside(path));
    }
    void CreateFolder(const std::string& path) override { m_disk.CreateFolder(inside(path)); }
    void DeleteFolder(const std::string& path, bool force) override {
        m_disk.DeleteFolder(inside(path), force);
    }
    bool FileExists(const std::string& path) const override {
        return m_disk.FileExists(inside(path));
    }
    std::string GetFileVersion(const std::string& path) const override {
        return m_disk.GetFileVersion(inside(path));
    }
    void CopyFile(const std::string& source, const std::string& destination,
                  bool overwrite) override {
        m_disk.CopyFile(inside(source), inside(destination), overwrite);
    }
    std::uint64_t sizeOfCopy(const std::string& source,
                             const std::string& destination) const override {
        try {
            return m_disk.sizeOfCopy(inside(source), inside(destination));
        } catch (const platform::Error&) {
            return 0;
        }
    }
    bool isSymbolicLink(const std::string& path) const override {
        return m_disk.isSymbolicLink(inside(path));
    }
    std::string resolve(const std::string& path) const override {
        return m_disk.resolve(inside(path));
    }
    void setChangeJournal(platform::ChangeJournal* journal) override {
        m_disk.setChangeJournal(journal);
    }
    void setSharedSources(const std::string& folder) override {
        m_disk.setSharedSources(folder.empty() ? folder : inside(folder));
    }

private:
    // The path as given when it stays in the sandbox; raises otherwise.
    const std::string& inside(const std::string& path) const {
        std::string forward = path;
        for (char& c : forward) {
            if (c == '\\') {
                c = '/';
            }
        }
        std::error_code error;
        const std::string real = std::filesystem::weakly_canonical(forward, error).string();
        if (error || forward.empty() || forward[0] != '/' ||
            (real != m_root && !real.starts_with(m_root + "/"))) {
            platform::raiseError(platform::ErrorNumber::permissionDenied, "SandboxFileSystem",
                                 "outside the sandbox: " + path);
        }
        return path;
    }

    std::string m_root;
    platform::DiskFileSystem m_disk;
};
