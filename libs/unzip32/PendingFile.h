#pragma once

#include "AccessRights.h"
#include "fileio/UniqueFd.h"

#include <string>
#include <string_view>

namespace unzip32 {

// A file written under a temporary name in its folder and renamed over its
// real name only once it is complete, so that a failed entry never replaces
// a good file and never leaves half a file behind.
class PendingFile {
public:
    explicit PendingFile(int folderFd);
    // Removes the temporary file unless it was committed.
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    void write(std::string_view data);
    // finish and place at once.
    void commit(const std::string& name, const TargetAttributes& attributes);
    // Gives the written file its attributes and closes it.
    void finish(const TargetAttributes& attributes);
    // Renames the finished file over name.
    void place(const std::string& name);

private:
    int m_folderFd;
    std::string m_temporaryName;
    fileio::UniqueFd m_fd;
    bool m_committed = false;
};

// Creates or replaces the symbolic link name in the folder, through a
// temporary name as for files.
void placeSymbolicLink(int folderFd, const std::string& name, const std::string& target,
                       const timespec& modified);

} // namespace unzip32
