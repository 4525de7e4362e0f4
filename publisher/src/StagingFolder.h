#pragma once

#include "fileio/UniqueFd.h"

#include <string>
#include <vector>

namespace publisher {

// A private folder beside the served files, on their file system, where the
// next package and version text are made complete before they are renamed
// into place. It is removed with whatever is left in it when the object goes
// away, so a refused or failed publication leaves nothing behind.
//
// A run that is killed cannot remove its folder: the folder is locked
// (flock) for as long as its run lives, and every new one removes each
// staging folder beside it whose lock it can take, since the run that made
// it has ended. A run still going keeps its lock, and its folder.
class StagingFolder {
public:
    explicit StagingFolder(const std::string& servedFolder);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // One line for each staging folder an earlier run left that this one
    // removed, or could not.
    const std::vector<std::string>& leftovers() const { return m_leftovers; }

private:
    void removeLeftovers(const std::string& servedFolder);

    std::string m_path;
    fileio::UniqueFd m_lock;
    std::vector<std::string> m_leftovers;
};

// Writes text as the whole content of a new file; PublishError on failure.
void writeNewFile(const std::string& path, const std::string& text);

} // namespace publisher
