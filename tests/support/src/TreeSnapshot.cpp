#include "testsupport/TreeSnapshot.h"

#include "testsupport/TempDir.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

TreeSnapshot snapshotTree(const std::string& folder, const std::set<std::string>& skipped) {
    TreeSnapshot tree;
    // Every path listed is the folder's own path and the names below it:
    // resolving both sides on the disk again for each entry gives the same.
    const std::size_t prefix = (fs::path(folder) / "x").string().size() - 1;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().string().substr(prefix);
        if (it.depth() == 0 && skipped.contains(name)) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat status {};
        lstat(it->path().c_str(), &status);
        EntrySnapshot entry{'f', {}, status.st_mode & 07777, 0};
        if (S_ISDIR(status.st_mode)) {
            entry.kind = 'd';
        } else if (S_ISLNK(status.st_mode)) {
            entry.kind = 'l';
            entry.content = fs::read_symlink(it->path()).string();
        } else if (!S_ISREG(status.st_mode)) {
            entry.kind = 's'; // a FIFO, say, which is never opened
        } else {
            entry.content = readFile(it->path());
            entry.modifiedNanoseconds =
                status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec;
        }
        tree.emplace(name, std::move(entry));
    }
    return tree;
}

std::string treeDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual) {
    std::string differences;
    int shown = 0;
    const auto note = [&](const std::string& line) {
        if (shown++ < 10) {
            differences += line + "\n";
        }
    };
    for (const auto& [name, entry] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end()) {
            note("missing: " + name);
        } else if (found->second.kind != entry.kind || found->second.content != entry.content) {
            note("other content: " + name);
        } else if (found->second.mode != entry.mode) {
            note("other mode: " + name);
        } else if (found->second.modifiedNanoseconds != entry.modifiedNanoseconds) {
            note("other modification time: " + name);
        }
    }
    for (const auto& [name, entry] : actual) {
        if (!expected.contains(name)) {
            note("added: " + name);
        }
    }
    return differences;
}

} // namespace testsupport
