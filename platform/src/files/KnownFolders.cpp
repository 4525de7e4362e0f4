#include "files/KnownFolders.h"

#include "platform/files/FolderListing.h"
#include "text/LetterCase.h"

#include <cerrno>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

constexpr uint32_t watchedChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                    IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The first entry in byte order with the name's folding, if any.
std::optional<std::string>
firstOf(const std::unordered_map<std::u32string, std::set<std::string>>& byFolded,
        const std::string& name) {
    const auto match = byFolded.find(text::foldCase(name));
    if (match == byFolded.end() || match->second.empty()) {
        return std::nullopt;
    }
    return *match->second.begin();
}

std::unordered_map<std::u32string, std::set<std::string>>
byFolding(const std::vector<std::string>& names) {
    std::unordered_map<std::u32string, std::set<std::string>> byFolded;
    for (const std::string& entry : names) {
        byFolded[text::foldCase(entry)].insert(entry);
    }
    return byFolded;
}

} // namespace

KnownFolders::KnownFolders() = default;

KnownFolders::~KnownFolders() = default;

std::optional<std::string> KnownFolders::caseVariant(const std::string& folder,
                                                     const std::string& name) {
    if (const Listing* listing = watched(folder)) {
        return firstOf(listing->byFolded, name);
    }
    // Not watchable: read it as it is now.
    const auto names = folderEntries(folder);
    if (!names) {
        return std::nullopt;
    }
    return firstOf(byFolding(*names), name);
}

KnownFolders::Listing* KnownFolders::watched(const std::string& folder) {
    // Made at the first lookup: a user has only so many watch instances.
    if (!m_watches && !m_watchesTried) {
        m_watchesTried = true;
        m_watches.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    }
    if (!m_watches) {
        return nullptr;
    }
    takeChanges();
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0) {
        forget(folder);
        return nullptr;
    }
    const auto known = m_listings.find(folder);
    if (known != m_listings.end()) {
        // The path may name another folder now that the watched one moved.
        if (known->second.device == status.st_dev && known->second.inode == status.st_ino) {
            return &known->second;
        }
        forget(folder);
    }
    // Watched before it is read, so that no change falls between the two.
    const int watch = inotify_add_watch(m_watches.get(), folder.c_str(), watchedChanges);
    if (watch < 0) {
        return nullptr;
    }
    const auto names = folderEntries(folder);
    if (!names) {
        inotify_rm_watch(m_watches.get(), watch);
        return nullptr;
    }
    Listing listing{watch, status.st_dev, status.st_ino, byFolding(*names)};
    m_folderOfWatch[watch] = folder;
    return &m_listings.insert_or_assign(folder, std::move(listing)).first->second;
}

void KnownFolders::takeChanges() {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = read(m_watches.get(), buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                // Changes were lost: nothing kept can be trusted.
                while (!m_listings.empty()) {
                    forget(m_listings.begin()->first);
                }
                continue;
            }
            const auto folder = m_folderOfWatch.find(event->wd);
            if (folder == m_folderOfWatch.end()) {
                continue;
            }
            if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) {
                forget(folder->second);
                continue;
            }
            Listing& listing = m_listings.at(folder->second);
            const std::string entry = event->name;
            auto& names = listing.byFolded[text::foldCase(entry)];
            if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                names.insert(entry);
            } else if ((event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
                names.erase(entry);
            }
        }
    }
}

void KnownFolders::forget(const std::string& folder) {
    const auto known = m_listings.find(folder);
    if (known == m_listings.end()) {
        return;
    }
    inotify_rm_watch(m_watches.get(), known->second.watch);
    m_folderOfWatch.erase(known->second.watch);
    m_listings.erase(known);
}

bool KnownFolders::firstVisit(const std::string& folder) {
    return m_visited.insert(folder).second;
}

} // namespace platform
