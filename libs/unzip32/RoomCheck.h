#pragma once

#include <string>

namespace unzip32 {

class Archive;
class EntrySelection;

// Stops an extraction before its first file when the folder's file system
// cannot hold the files selected (their recorded sizes, added up): a JobStop
// with UZP_DISK_FULL and a sentence saying how much is needed and how much
// is free. Entries whose records cannot be read count for nothing here;
// their own handling reports them.
void requireRoom(const Archive& archive, const EntrySelection& selection,
                 const std::string& folder);

} // namespace unzip32
