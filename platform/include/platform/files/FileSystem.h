#pragma once

#include "platform/files/ChangeJournal.h"

#include <cstdint>
#include <string>

namespace platform {

// The window's file-system service. Paths are absolute; "\" in a path means
// "/". Every component that names an existing entry is found without regard
// to letter case (an exact match preferred, else the first in byte order);
// new entries get the case given. Failures raise platform::Error.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual bool FolderExists(const std::string& path) const = 0;
    // Creates that one folder; the parent must exist. The new folder is on
    // disk when it returns.
    virtual void CreateFolder(const std::string& path) = 0;
    // Removes the folder with everything in it; links inside are removed, not
    // followed. Without force a read-only file or folder anywhere inside
    // refuses the deletion before anything is removed.
    virtual void DeleteFolder(const std::string& path, bool force = false) = 0;
    virtual bool FileExists(const std::string& path) const = 0;
    // "a.b.c.d" from a PE version resource or an ELF package note; empty when
    // the file carries none or is not a regular file. A missing file raises.
    virtual std::string GetFileVersion(const std::string& path) const = 0;
    // A destination ending in "/" names a folder and the copy keeps the
    // source's name. The last component of the source may hold "*" and "?";
    // then the destination is a folder too, and every target is checked
    // before the first is replaced. The destination folder must exist. The
    // copy is written beside the target under a temporary name and renamed
    // over it; a replaced file keeps its permission bits, a new one takes
    // the source's. A read-only target is not replaced. Temporary files that
    // an earlier copy into that folder left when it was killed are removed.
    virtual void CopyFile(const std::string& source, const std::string& destination,
                          bool overwrite = true) = 0;
    // The bytes CopyFile(source, destination) would write: the size of the
    // file source names, or of every file its pattern matches; 0 when it
    // names none (the copy then fails on its own). A target that already is
    // its source counts nothing, and so does a file that a copy will share
    // (see setSharedSources) the first time it is asked for, as its copies
    // are. Raises nothing.
    virtual std::uint64_t sizeOfCopy(const std::string& source,
                                     const std::string& destination) const = 0;

    // True when the path itself is a symbolic link, whatever it points to.
    virtual bool isSymbolicLink(const std::string& path) const = 0;
    // The path with "\" read as "/" and every existing component in the
    // letter case found on disk.
    virtual std::string resolve(const std::string& path) const = 0;

    // While a journal is set (not null), every file CopyFile adds or
    // replaces and every folder CreateFolder makes is recorded in it first.
    virtual void setChangeJournal(ChangeJournal* journal) = 0;
    // While a folder is set (not empty), a file CopyFile takes from below it
    // may become the copy itself, a second name in the target's place,
    // instead of a second write of its bytes: the folder's files are written
    // no more and go away with it (the update's temp folder). A file that
    // has a second name already, or lies on another file system, is still
    // copied, so that no two installed names share one file.
    virtual void setSharedSources(const std::string& folder) = 0;
};

} // namespace platform
