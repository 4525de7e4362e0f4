#include "RunLeftovers.h"

#include "fileio/Names.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace publisher {

namespace {

// A thread of the run may still make entries in a folder while it is
// removed; once the folder itself is gone, nothing more can be made in it.
constexpr int mostRemovals = 100;

std::string removedTree(const std::string& path) {
    std::error_code failure;
    for (int tries = 0; tries < mostRemovals; ++tries) {
        std::filesystem::remove_all(path, failure);
        if (!std::filesystem::exists(std::filesystem::symlink_status(path))) {
            return "removed " + path + ", the staging folder of this run";
        }
    }
    return "cannot remove " + path + ", the staging folder of this run: " + failure.message() +
           "; the next run removes it";
}

} // namespace

RunLeftovers& RunLeftovers::instance() {
    static RunLeftovers leftovers;
    return leftovers;
}

void RunLeftovers::forget(const std::string& path) {
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_items, [&path](const Item& item) { return item.path == path; });
}

RunLeftovers::Held::Held(RunLeftovers& leftovers)
    : m_leftovers(leftovers), m_lock(leftovers.m_mutex) {}

void RunLeftovers::Held::addTree(const std::string& path) {
    m_leftovers.m_items.push_back({path, true});
}

void RunLeftovers::Held::addFolder(const std::string& path) {
    m_leftovers.m_items.push_back({path, false});
}

void RunLeftovers::Held::done(const std::string& what) {
    m_leftovers.m_done = what;
}

RunLeftovers::Stop RunLeftovers::takeAway() {
    m_mutex.lock();
    Stop stop{{}, m_done};
    // The latest first: the staging folder before the folders that hold it.
    for (auto item = m_items.rbegin(); item != m_items.rend(); ++item) {
        if (item->tree) {
            stop.lines.push_back(removedTree(item->path));
        } else if (fileio::removeFolder(item->path) == 0) {
            stop.lines.push_back("removed " + item->path + ", made for the served files");
        }
    }
    m_items.clear();
    return stop;
}

} // namespace publisher
