#include "Selection.h"

#include "JobFailure.h"
#include "PathSearch.h"
#include "StoredName.h"
#include "fileio/Reading.h"
#include "text/LetterCase.h"
#include "text/Slashes.h"

#include <map>
#include <set>

namespace zip32 {

std::string absoluteName(const std::string& root, const std::string& name) {
    const std::string forward = text::withForwardSlashes(name);
    return forward.starts_with('/') ? forward : joinPath(root, forward);
}

Selection::Selection(const JobSettings& settings, const Reporter& reporter, std::string root,
                     const struct stat* archive)
    : m_settings(settings), m_reporter(reporter), m_root(std::move(root)),
      m_hasArchive(archive != nullptr) {
    if (archive != nullptr) {
        m_archive = *archive;
    }
}

std::vector<SelectedItem> Selection::select(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        bool matched = false;
        for (const std::string& path : candidates(name)) {
            struct stat status {};
            if (::lstat(path.c_str(), &status) == 0) {
                matched = true;
                take(path, status);
            }
        }
        if (!matched) {
            m_reporter.warning(name, "name not matched");
        }
    }
    // The same file named twice is stored once; two files under one name
    // cannot both be.
    std::vector<SelectedItem> unique;
    std::set<std::string> seenPaths;
    std::map<std::u32string, std::string> seenNames;
    for (SelectedItem& item : m_items) {
        if (!seenPaths.insert(item.diskPath).second) {
            continue;
        }
        const auto [place, fresh] =
            seenNames.emplace(text::foldCase(item.storedName), item.diskPath);
        if (!fresh) {
            if (item.folder) {
                continue;
            }
            throw JobFailure(ZP_DUPLICATE_NAME, "\"" + place->second + "\" and \"" + item.diskPath +
                                                    "\" would both be stored as " +
                                                    item.storedName);
        }
        unique.push_back(std::move(item));
    }
    m_items.clear();
    return unique;
}

std::vector<std::string> Selection::candidates(const std::string& name) const {
    const std::string forward = text::withForwardSlashes(name);
    // The root is already spelt as on disk: a relative name is looked up
    // below it only. A "*" or "?" in the root's own name is part of that
    // name; taken as a pattern it would pick up the folders beside it.
    if (!forward.starts_with('/')) {
        return expandBelow(m_root, forward, m_settings.includeHidden);
    }
    return expandPattern(forward, m_settings.includeHidden);
}

void Selection::take(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        take(path, status);
    }
}

void Selection::take(const std::string& path, struct stat status) {
    if (S_ISLNK(status.st_mode)) {
        struct stat target {};
        if (::stat(path.c_str(), &target) != 0) {
            m_reporter.warning(path, "link to nothing; skipped");
            return;
        }
        if (S_ISDIR(target.st_mode)) {
            m_reporter.warning(path, "link to a folder; not followed");
            return;
        }
        status = target;
    }
    if (S_ISDIR(status.st_mode)) {
        add(path, status, true);
        if (m_settings.recurse) {
            takeTree(path);
        }
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        m_reporter.warning(path, std::string("is ") + fileio::notAFileKind(status.st_mode) +
                                     ", not a file; never read");
        return;
    }
    if (isArchive(status)) {
        return;
    }
    if ((m_settings.notBefore && status.st_mtime < *m_settings.notBefore) ||
        (m_settings.before && status.st_mtime >= *m_settings.before)) {
        return;
    }
    add(path, status, false);
}

void Selection::takeTree(const std::string& folder) {
    const auto names = readFolder(folder);
    if (!names) {
        throw JobFailure(ZP_FILE_UNREADABLE, folder + ": cannot read the folder");
    }
    for (const std::string& name : *names) {
        if (name.front() == '.' && !m_settings.includeHidden) {
            continue;
        }
        take(joinPath(folder, name));
    }
}

void Selection::add(const std::string& path, const struct stat& status, bool folder) {
    if (folder && (!m_settings.directoryEntries || m_settings.junkFolders)) {
        return;
    }
    std::string stored = storedName(m_root, path, m_settings);
    if (stored.empty()) {
        return;
    }
    if (folder) {
        stored.push_back('/');
    }
    m_items.push_back({path, stored, folder, status});
}

bool Selection::isArchive(const struct stat& status) const {
    return m_hasArchive && status.st_dev == m_archive.st_dev && status.st_ino == m_archive.st_ino;
}

} // namespace zip32
