#pragma once

#include "fileio/UniqueFd.h"

#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <unordered_set>

namespace platform {

// What the file system learned of folders' entries while it works, so that
// installing many files into one folder lists that folder once, not once or
// twice per file. A folder read once is watched from then on (inotify): every
// name made, removed or renamed in it since, by this process or any other,
// is taken into what is known before the next lookup, so that a kept listing
// is never stale. Where the system cannot watch, every lookup lists afresh.
class KnownFolders {
public:
    KnownFolders();
    ~KnownFolders();
    KnownFolders(const KnownFolders&) = delete;
    KnownFolders& operator=(const KnownFolders&) = delete;

    // The entry of folder whose name matches name without regard to letter
    // case, the first such in byte order; nullopt when there is none or the
    // folder cannot be listed.
    std::optional<std::string> caseVariant(const std::string& folder, const std::string& name);

    // True the first time it is asked about a folder: for work done once per
    // folder in a run.
    bool firstVisit(const std::string& folder);

private:
    struct Listing {
        int watch = -1;
        dev_t device = 0;
        ino_t inode = 0;
        // Folded name to every entry with that folding, in byte order.
        std::unordered_map<std::u32string, std::set<std::string>> byFolded;
    };

    // Takes in every change the watches saw since the last lookup.
    void takeChanges();
    void forget(const std::string& folder);
    Listing* watched(const std::string& folder);

    fileio::UniqueFd m_watches;
    bool m_watchesTried = false;
    std::unordered_map<std::string, Listing> m_listings;
    std::unordered_map<int, std::string> m_folderOfWatch;
    std::unordered_set<std::string> m_visited;
};

} // namespace platform
