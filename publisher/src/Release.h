#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace publisher {

// A release folder as the package will carry it. Paths are relative to the
// release folder, with "/" between folders.
struct ReleaseFile {
    std::string path;   // "docs/readme.txt"
    std::string folder; // "docs", empty at the top
    std::string name;   // "readme.txt"
    std::uintmax_t size = 0;
    bool executable = false; // executable by its owner
};

struct Release {
    std::string root;                 // absolute, without symbolic links
    std::vector<std::string> folders; // every folder, each after its parent
    std::vector<ReleaseFile> files;   // in the order of a walk, top first
    // What the package names, relative to the root: the top-level entries
    // (folders bring their trees) and the hidden entries further down, which
    // a folder's tree leaves out.
    std::vector<std::string> packageNames;
    bool hasInstructionFile = false; // the release brings its own updater.ini
};

// The instruction file's name in the package and in the update's temp folder.
inline constexpr const char* instructionFileName = "updater.ini";

// Reads the release folder. Refuses (PublishError) what the updater could not
// deliver as it stands: a missing or empty folder, links and special files,
// names that updater.ini cannot carry, two entries of one folder that differ
// only in letter case, and two files of one name in different folders (the
// update unpacks every file into one folder).
Release readRelease(const std::string& folder);

} // namespace publisher
