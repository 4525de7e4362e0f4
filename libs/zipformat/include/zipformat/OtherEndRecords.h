#pragma once

// End records besides the one an archive is read by. A zip stored as an entry
// brings an end record of its own, and an archive can be built to show one
// reader a directory and another reader another: readers differ in which end
// record they take when the end of a file holds more than one (libzip reads
// through the first it can read, with a preference of its own). The rule
// below tells the two apart.

#include "zipformat/Directory.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace zipformat {

// The directory an archive is read by, and where each of its entries begins.
class TakenDirectory {
public:
    TakenDirectory(const DirectoryLocation& location,
                   std::vector<std::uint64_t> localHeaderOffsets);

    // Whether the end record at endOffset, which locates other, shows a reader
    // that takes it another archive: other is not the directory taken, holds
    // entries, lies before that end record, begins with a central record
    // (centralRecordAt tells, for an offset in the file) and does not lie
    // wholly inside one entry, between its local header and the next entry's
    // (the last entry's: the directory). A directory that holds no entry shows
    // nothing, and one inside an entry is that entry's content: a zip stored
    // in the archive.
    bool rivalledBy(const DirectoryLocation& other, std::uint64_t endOffset,
                    const std::function<bool(std::uint64_t)>& centralRecordAt) const;

private:
    bool insideOneEntry(std::uint64_t offset, std::uint64_t size) const;

    DirectoryLocation m_location;
    // Where the entries before the directory begin, sorted, and the
    // directory's offset last.
    std::vector<std::uint64_t> m_entryStarts;
};

} // namespace zipformat
