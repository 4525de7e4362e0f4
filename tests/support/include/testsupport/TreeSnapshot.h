#pragma once

#include <map>
#include <set>
#include <string>
#include <sys/types.h>

namespace testsupport {

// What an entry of a folder tree is, as far as "the same installation"
// goes: its kind, its bytes (a link's target), its mode and, for a file,
// its modification time.
struct EntrySnapshot {
    char kind; // 'f' file, 'd' folder, 'l' link, 's' anything else
    std::string content;
    mode_t mode;
    long long modifiedNanoseconds;

    bool operator==(const EntrySnapshot&) const = default;
};

// Every entry below a folder, by its path relative to the folder.
using TreeSnapshot = std::map<std::string, EntrySnapshot>;

// The tree below folder, without the top-level names given.
TreeSnapshot snapshotTree(const std::string& folder,
                          const std::set<std::string>& skipped = {"temp", "NoteError.txt"});

// The first differences between two snapshots, one per line; empty when
// they are the same.
std::string treeDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual);

} // namespace testsupport
