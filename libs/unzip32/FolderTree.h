#pragma once

#include "fileio/UniqueFd.h"

#include <memory>
#include <string>
#include <vector>

namespace unzip32 {

// The extraction folder and the folders below it, opened one component at a
// time without ever following a symbolic link, so that nothing written
// through it can land outside the extraction folder.
class FolderTree {
public:
    // Opens (and with create, makes) the extraction folder itself; an empty
    // path is the current folder. Throws a JobStop when that fails.
    FolderTree(const std::string& path, bool create);

    int rootFd() const { return m_root->get(); }

    // The folder below the root at these components, made on the way when
    // create is set. Returns -1 when a component is missing and create is not
    // set. Throws an EntryFault when a component is a symbolic link or not a
    // folder, or cannot be made. The descriptor stays valid until the next
    // call. A folder found missing is taken as missing, with every folder
    // below it, until a call with create: looking for room, every file of a
    // folder not yet made asks for it.
    int open(const std::vector<std::string>& folders, bool create);
    // Whether open() would answer these folders without touching the disk.
    bool isOpen(const std::vector<std::string>& folders) const {
        return folders.empty() || (m_lastFd && folders == m_lastFolders);
    }
    // The descriptor the latest open() gave, to be kept open by whoever
    // still needs it after later calls.
    std::shared_ptr<const fileio::UniqueFd> latest() const { return m_latest; }

private:
    std::shared_ptr<fileio::UniqueFd> m_root;
    // The latest folder opened below the root: entries tend to come folder
    // by folder.
    std::vector<std::string> m_lastFolders;
    std::shared_ptr<fileio::UniqueFd> m_lastFd;
    std::shared_ptr<fileio::UniqueFd> m_latest;
    // The components down to the folder last found missing; empty for none.
    std::vector<std::string> m_missing;
};

// Opens the folder name inside parent without following a link; with create,
// makes it first when it is missing. Returns -1 when missing and not created;
// throws an EntryFault naming the component otherwise.
int openChildFolder(int parent, const std::string& name, bool create);

} // namespace unzip32
