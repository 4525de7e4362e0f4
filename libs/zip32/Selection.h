#pragma once

#include "JobSettings.h"
#include "Reporter.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace zip32 {

// One file or folder chosen for the archive.
struct SelectedItem {
    std::string diskPath;
    // The entry name; a folder's ends in "/".
    std::string storedName;
    bool folder = false;
    // Of the file itself (a link to a file gives its file's).
    struct stat status {};
};

// Turns the names of a call into the files and folders to store, in the
// order named, each folder's tree in byte order. Names that match nothing,
// and what cannot or must not be stored, are reported and left out. Throws a
// JobFailure when two files would be stored under one name (under the case
// rule) or a named folder cannot be read.
class Selection {
public:
    Selection(const JobSettings& settings, const Reporter& reporter, std::string root,
              const struct stat* archive);

    std::vector<SelectedItem> select(const std::vector<std::string>& names);

private:
    // The paths a given name stands for.
    std::vector<std::string> candidates(const std::string& name) const;
    void take(const std::string& path);
    // The same with the entry's own status (not followed) already at hand.
    void take(const std::string& path, struct stat status);
    void takeTree(const std::string& folder);
    void add(const std::string& path, const struct stat& status, bool folder);
    bool isArchive(const struct stat& status) const;

    const JobSettings& m_settings;
    const Reporter& m_reporter;
    std::string m_root;
    bool m_hasArchive = false;
    struct stat m_archive {};
    std::vector<SelectedItem> m_items;
};

// The absolute form of a name given to the library: "\" read as "/", a
// relative name taken from root.
std::string absoluteName(const std::string& root, const std::string& name);

} // namespace zip32
