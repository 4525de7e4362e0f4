#include "MoveSources.h"

#include "fileio/Failure.h"

#include <cerrno>
#include <set>
#include <unistd.h>

namespace zip32 {

bool removeMovedSources(const std::vector<SelectedItem>& stored, const std::string& root,
                        const Reporter& reporter) {
    bool complete = true;
    // Longest path first: a folder comes before the folders it lies in.
    const auto deeperFirst = [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    };
    std::set<std::string, decltype(deeperFirst)> folders(deeperFirst);
    const std::string rootSlash = root.ends_with('/') ? root : root + "/";
    for (const SelectedItem& item : stored) {
        if (item.folder) {
            folders.insert(item.diskPath);
            continue;
        }
        if (::unlink(item.diskPath.c_str()) != 0 && errno != ENOENT) {
            reporter.warning(item.diskPath,
                             "cannot remove the moved file: " + fileio::systemReason(errno));
            complete = false;
        }
        for (std::string folder = item.diskPath.substr(0, item.diskPath.rfind('/'));
             folder.starts_with(rootSlash); folder = folder.substr(0, folder.rfind('/'))) {
            folders.insert(folder);
        }
    }
    for (const std::string& folder : folders) {
        if (::rmdir(folder.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST &&
            errno != ENOENT) {
            reporter.warning(folder,
                             "cannot remove the moved folder: " + fileio::systemReason(errno));
            complete = false;
        }
    }
    return complete;
}

} // namespace zip32
