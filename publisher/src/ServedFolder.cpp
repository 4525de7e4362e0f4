#include "ServedFolder.h"

#include "RunLeftovers.h"
#include "fileio/Failure.h"
#include "fileio/Names.h"
#include "publisher/PublishError.h"

#include <algorithm>
#include <filesystem>

namespace publisher {

namespace fs = std::filesystem;

namespace {

// The folders of path that do not exist yet, each after its parent.
std::vector<std::string> missingFolders(const fs::path& path) {
    std::vector<std::string> missing;
    std::error_code failure;
    for (fs::path folder = path;
         !folder.empty() && !fs::exists(fs::symlink_status(folder, failure));
         folder = folder.parent_path()) {
        missing.push_back(folder.string());
        if (folder == folder.parent_path()) {
            break;
        }
    }
    std::reverse(missing.begin(), missing.end());
    return missing;
}

void refuseInsideRelease(const std::string& outputFolder, const fs::path& served,
                         const std::string& releaseRoot) {
    std::error_code failure;
    const fs::path output = fs::weakly_canonical(fs::absolute(outputFolder), failure);
    const std::string servedText = fs::weakly_canonical(fs::absolute(served), failure).string();
    if ((servedText + "/").rfind(releaseRoot + "/", 0) != 0) {
        return;
    }
    throw PublishError("the output folder " + outputFolder +
                       (output.string() == releaseRoot ? " is the release folder itself"
                                                       : " lies inside the release folder") +
                       "; the package would hold itself. Name an output folder outside " +
                       releaseRoot);
}

} // namespace

std::string servedFolderOf(const std::string& outputFolder) {
    return (fs::path(outputFolder) / "clientfiles" / "morvane").string();
}

std::string servedUrlPath(const std::string& name) {
    return "/clientfiles/morvane/" + name;
}

ServedFolder::ServedFolder(const std::string& outputFolder, const std::string& releaseRoot) {
    const fs::path served = servedFolderOf(outputFolder);
    refuseInsideRelease(outputFolder, served, releaseRoot);
    try {
        for (const std::string& folder : missingFolders(fs::absolute(served))) {
            RunLeftovers::Held held = RunLeftovers::instance().hold();
            if (const int failure = fileio::makeFolder(folder, 0777); failure != 0) {
                throw PublishError("cannot write to " + folder + ": " +
                                   fileio::systemReason(failure));
            }
            m_made.push_back(folder);
            held.addFolder(folder);
        }
        std::error_code failure;
        m_path = fs::canonical(served, failure).string();
        if (failure) {
            throw PublishError("cannot write to " + served.string() + ": " + failure.message());
        }
    } catch (...) {
        removeMade();
        throw;
    }
}

ServedFolder::~ServedFolder() {
    removeMade();
}

void ServedFolder::removeMade() {
    for (auto folder = m_made.rbegin(); folder != m_made.rend(); ++folder) {
        RunLeftovers::instance().forget(*folder);
        (void)fileio::removeFolder(*folder);
    }
    m_made.clear();
}

void ServedFolder::keep() {
    for (const std::string& folder : m_made) {
        RunLeftovers::instance().forget(folder);
    }
    m_made.clear();
}

} // namespace publisher
