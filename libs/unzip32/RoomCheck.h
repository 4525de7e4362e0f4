#pragma once

#include <cstddef>
#include <cstdint>

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

// The room an extraction needs in the folder's file system for what it
// writes, when up to so many files are unpacked and not yet in place at
// once (one, counted as one after another, by default).
//
// Only the files the options will write count (see writingOver), each at
// what it adds over the file it replaces. Each file is written under a
// temporary name and renamed over the file it replaces, in the entries'
// order, so that file keeps its room until the rename: the need is the
// largest, over the files written, of what the files before it added and
// the whole sizes of it and of the files unpacked beside it (those after it
// within the limits). Neither the sum of what the files add (a file being
// written sits beside the one it replaces) nor the largest file alone (what
// earlier files added stays) would be true. A file that shrinks counts as
// adding nothing, and one that replaces a file with other names as adding
// its whole size: its old bytes stay. Entries whose records cannot be read
// or that will be refused count for nothing here; their own handling
// reports them.
std::uint64_t roomNeeded(const Archive& archive, const EntrySelection& selection,
                         const JobSettings& settings, const FilesAtOnce& atOnce = {});

// Whether the extraction folder's file system has need bytes free.
bool roomFor(const JobSettings& settings, std::uint64_t need);

// Stops an extraction before its first file when the folder's file system
// cannot hold need bytes: a JobStop with UZP_DISK_FULL and a sentence saying
// how much is needed and how much is free.
void requireRoom(const JobSettings& settings, std::uint64_t need);

} // namespace unzip32
