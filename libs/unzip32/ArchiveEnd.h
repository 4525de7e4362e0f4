#pragma once

#include "zipformat/Directory.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace unzip32 {

// The end of an archive file: its last bytes, as far as readers search them
// for an end record (libzip leaves room for a zip64 locator before the
// record with the longest comment), the end record every reader here takes
// there (zipformat::findEndRecord) and the directory it locates; or why
// there is none to take.
struct ArchiveEnd {
    std::vector<unsigned char> tail;
    uint64_t tailStart = 0;
    uint64_t endOffset = 0;
    zipformat::DirectoryLocation location;
    // Empty unless the end cannot be read: the archive is damaged.
    std::string problem;
};

ArchiveEnd readArchiveEnd(int fd, uint64_t fileSize);

// Where end record signatures stand in the tail before the directory: inside
// the entries (a zip stored as one brings its own) or before them; what
// libzip is not to see when it takes one of them for the archive's (see
// Archive).
std::vector<uint64_t> signaturesBeforeDirectory(const ArchiveEnd& end);

// Throws a JobStop (UZP_DAMAGED_ARCHIVE) when another end record in the tail
// would show a reader that takes it another archive than the directory whose
// entries begin at entryStarts (zipformat::TakenDirectory): otherwise what
// one reader checks is not what another extracts.
void refuseRivalEndRecords(int fd, const ArchiveEnd& end, std::vector<uint64_t> entryStarts);

// Reads length bytes at offset; false when the file has fewer or the read
// fails.
bool readExactlyAt(int fd, uint64_t offset, void* buffer, std::size_t length);

} // namespace unzip32
