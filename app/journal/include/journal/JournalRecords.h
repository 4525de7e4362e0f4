#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct stat;

namespace updater {

// The very file that stood at a path: its device and inode, and the last
// change of its status, which tells it from a later file that got the same
// inode number once the first was gone.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t changedNanoseconds = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file that status (of lstat) describes.
FileIdentity identityOf(const struct stat& status);

// The file an update put where there was none: the device and inode of the
// file it was made from (the very file where that was linked into place),
// and the modification time it was given, which it keeps wherever it is
// copied with its times (an installation copied with its journal, a file
// put back from a copy, a copy the update made where it could not link).
struct PlacedFile {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const PlacedFile&) const = default;
};

// The placed file that status (of fstat or lstat) describes.
PlacedFile placedFileOf(const struct stat& status);

// Whether status describes the placed file as the update left it: a
// regular file with its modification time. A file written or put there
// since has another.
bool isPlaced(const PlacedFile& placed, const struct stat& status);

// One change of an update, as its journal records it. A change inside the
// installation names its path relative to the installation folder, so that
// a copied or moved installation puts back its own files; a change outside
// it (an instruction may name any folder) names its absolute path.
struct JournalRecord {
    enum class Kind {
        kept,   // the file at path was replaced; the journal keeps it as "kept-<number>"
        added,  // a file was made at path, where there was none
        folder, // the folder at path was made
    };
    Kind kind;
    std::string path;
    unsigned number = 0; // of the kept file
    // What stood at path when it was kept; journals of the first format did
    // not record it.
    std::optional<FileIdentity> replaced;
    // What the update put at path, for an added file; earlier updaters did
    // not record it.
    std::optional<PlacedFile> placed;

    bool outside() const { return path.starts_with('/'); }
    bool operator==(const JournalRecord&) const = default;
};

// What a journal holds.
struct JournalContents {
    // The folder of the installation that wrote the journal; empty for a
    // journal of the first format, which did not say and named every path
    // absolute.
    std::string installation;
    std::vector<JournalRecord> records;
};

// The journal's text: "updater-journal 2", then "installation <folder>",
// then one line per change in the order the changes were made:
//
//     kept <number> <device> <inode> <status change, ns> <path>
//     added <path> <device> <inode> <modification, ns>
//     folder <path>
//
// Fields are separated by one space; a path is written with "%", space, CR
// and LF as "%25", "%20", "%0D" and "%0A", so that every record is one line
// and every path one field whatever the instruction file named. A reader
// takes the fields it knows and skips any that a later writer adds after
// them. A change of a kind a reader does not know is one it cannot undo, so
// a writer that adds a kind raises the format's number, and a reader
// refuses a number it does not know. An added file's identity follows its
// path, where updaters that wrote the path alone skip it; their records
// have none. Journals of the first format
// ("updater-journal 1", written by earlier updaters) have no installation
// line and no identity, name every path absolute and leave spaces as they
// are.

// The first lines of every journal the installation at installFolder (a
// canonical path) writes: the format and the installation.
std::string journalHeader(const std::string& installFolder);

// One record as its line, line end included.
std::string recordLine(const JournalRecord& record);

// What a journal's text holds, in either format. Each record is on disk
// before its change is made, so a last line without its line end (or a
// header cut short) was cut off before its change and is dropped. Raises
// platform::Error (pathFileAccess) for a text that is no journal this
// updater can finish: a wrong header, or a whole line that is no record.
JournalContents readJournal(std::string_view text, const std::string& path);

} // namespace updater
