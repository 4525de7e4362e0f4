#pragma once

#include <string>

namespace platform {

// The window's file-system service. Paths are absolute; "\" in a path means
// "/". Every component that names an existing entry is found without regard
// to letter case (an exact match preferred, else the first in byte order);
// new entries get the case given. Failures raise platform::Error.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    bool FolderExists(const std::string& path) const;
    // Creates that one folder; the parent must exist.
    void CreateFolder(const std::string& path);
    // Removes the folder with everything in it; links inside are removed, not
    // followed. Without force a read-only file or folder anywhere inside
    // refuses the deletion before anything is removed.
    void DeleteFolder(const std::string& path, bool force = false);
    bool FileExists(const std::string& path) const;
    // True when the path itself is a symbolic link, whatever it points to.
    bool isSymbolicLink(const std::string& path) const;
    // "a.b.c.d" from a PE version resource or an ELF package note; empty when
    // the file carries none or is not a regular file. A missing file raises.
    std::string GetFileVersion(const std::string& path) const;
    // A destination ending in "/" names a folder and the copy keeps the
    // source's name. The last component of the source may hold "*" and "?";
    // then the destination is a folder too, and every target is checked
    // before the first is replaced. The destination folder must exist. The
    // copy is written beside the target under a temporary name and renamed
    // over it; a replaced file keeps its permission bits, a new one takes
    // the source's. A read-only target is not replaced. Temporary files that
    // an earlier copy into that folder left when it was killed are removed.
    void CopyFile(const std::string& source, const std::string& destination, bool overwrite = true);

    // The path with "\" read as "/" and every existing component in the
    // letter case found on disk.
    std::string resolve(const std::string& path) const;

protected:
    // Called after the copy's temporary file is complete and before it is
    // renamed into place; tests override it to simulate an interruption.
    virtual void beforeReplace(const std::string& temporaryPath, const std::string& target);

private:
    void copyOne(const std::string& from, const std::string& to, const std::string& label);
};

} // namespace platform
