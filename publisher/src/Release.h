#pragma once

#include "fileio/UniqueFd.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace publisher {

// What shows that a file is still the one the release was read with.
struct FileStamp {
    std::uintmax_t device = 0;
    std::uintmax_t inode = 0;
    std::uintmax_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const struct stat& status);

// A release folder as the package will carry it. Paths are relative to the
// release folder, with "/" between folders.
struct ReleaseFile {
    std::string path;   // "docs/readme.txt"
    std::string folder; // "docs", empty at the top
    std::string name;   // "readme.txt"
    std::uintmax_t size = 0;
    bool executable = false; // executable by its owner
    std::uint16_t mode = 0;  // permission bits
    FileStamp stamp;         // as the release was read
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
    // Files of at least this many bytes are deflated in chunks (0: none is).
    std::uint64_t chunkedFrom = 0;

    // Whether the package deflates file in chunks, which its chunk map lists.
    bool chunked(const ReleaseFile& file) const {
        return chunkedFrom > 0 && file.size >= chunkedFrom;
    }
    // Whether the package carries a chunk map: only then is its name taken.
    bool hasChunkMap() const;
};

// What a refusal of a release that changed while it was packed asks for.
inline constexpr const char* publishAgain = "; publish again when the release folder is still";

// Opens a file of the release to read, without waiting (a FIFO put in its
// place would wait for a writer for ever), and only while it is the very file
// the release was read with: otherwise the release changed while it was
// packed, and that is what the PublishError says.
fileio::UniqueFd openAsRead(const Release& release, const ReleaseFile& file);

// The instruction file's name in the package and in the update's temp folder.
inline constexpr const char* instructionFileName = "updater.ini";

// Reads the release folder, whose files of at least chunkedFrom bytes (0:
// none) the package deflates in chunks. Refuses (PublishError) what the
// updater could not deliver as it stands: a missing or empty folder, links
// and special files, names that updater.ini or the package cannot carry, two
// entries of one folder that differ only in letter case, names that are not
// UTF-8, and two files of one name in different folders or with the
// instruction file the tool writes, the package's manifest or, when the
// package carries one, its chunk map (the update unpacks every file into one
// folder).
Release readRelease(const std::string& folder, std::uint64_t chunkedFrom);

} // namespace publisher
