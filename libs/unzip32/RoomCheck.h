#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unzip32 {

class Archive;
class EntrySelection;
struct JobSettings;

// How many files, and how many of their bytes, may be unpacked and not yet
// in place at once; one file is always let through whatever its size.
struct FilesAtOnce {
    std::size_t files = 1;
    std::uint64_t bytes = 0;
};

// What an extraction writes, as the room it needs counts it: only the files
// the options will write (see writingOver), each with its whole size and
// what it adds over the file it replaces, in the entries' order.
class FilesWritten {
public:
    static FilesWritten of(const Archive& archive, const EntrySelection& selection,
                           const JobSettings& settings);

    // The room the extraction needs in the folder's file system when up to
    // so many files are unpacked and not yet in place at once (one, counted
    // as one after another, by default).
    //
    // Each file is written under a temporary name and renamed over the file
    // it replaces, in the entries' order, so that file keeps its room until
    // the rename: the need is the largest, over the files written, of what
    // the files before it added and the whole sizes of it and of the files
    // unpacked beside it (those after it within the limits). Neither the sum
    // of what the files add (a file being written sits beside the one it
    // replaces) nor the largest file alone (what earlier files added stays)
    // would be true. A file that shrinks counts as adding nothing, and one
    // that replaces a file with other names as adding its whole size: its
    // old bytes stay. Entries whose records cannot be read or that will be
    // refused count for nothing here; their own handling reports them.
    std::uint64_t roomNeeded(const FilesAtOnce& atOnce = {}) const;

private:
    struct File {
        std::uint64_t size;
        std::uint64_t added;
    };
    std::vector<File> m_files;
};

// Whether the extraction folder's file system has need bytes free.
bool roomFor(const JobSettings& settings, std::uint64_t need);

// Stops an extraction before its first file when the folder's file system
// cannot hold need bytes: a JobStop with UZP_DISK_FULL and a sentence saying
// how much is needed and how much is free.
void requireRoom(const JobSettings& settings, std::uint64_t need);

} // namespace unzip32
