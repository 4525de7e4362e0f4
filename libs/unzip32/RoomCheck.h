#pragma once

namespace unzip32 {

class Archive;
class EntrySelection;
struct JobSettings;

// Stops an extraction before its first file when the folder's file system
// cannot hold what the job will write: a JobStop with UZP_DISK_FULL and a
// sentence saying how much is needed and how much is free.
//
// Only the files the options will write count (see writingOver), each at
// what it adds over the file it replaces. Files are written one after
// another in the entries' order, each under a temporary name and renamed over
// the file it replaces, so that file keeps its room until the rename: the
// need is the largest, over the files written, of a file's whole size and
// what the files before it added. Neither the sum of what the files add (a
// file being written sits beside the one it replaces) nor the largest file
// alone (what earlier files added stays) would be true. A file that shrinks
// counts as adding nothing, and one that replaces a file with other names as
// adding its whole size: its old bytes stay. Entries whose records cannot be
// read or that will be refused count for nothing here; their own handling
// reports them.
void requireRoom(const Archive& archive, const EntrySelection& selection,
                 const JobSettings& settings);

} // namespace unzip32
