#pragma once

#include "ArchiveEnd.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unzip32 {

// What the archive's own directory says of one entry, read straight from the
// file: where its local header lies, how many bytes of data follow it and
// what they unpack to (size and CRC-32, to hold against what libzip read),
// its internal attributes (bit 0 marks text), and for an AES-encrypted entry
// the version of that format (2: the CRC-32 is left out).
struct DirectoryEntry {
    uint64_t localHeaderOffset = 0;
    // Where the data starts, past the local header (see locateData).
    uint64_t dataOffset = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
    uint16_t internalAttributes = 0;
    uint16_t aesVersion = 0;
};

struct CentralDirectory {
    std::vector<DirectoryEntry> entries;
    uint64_t offset = 0;
};

// Reads the central directory (zip64 included) that end locates in the
// archive open on fd, streaming it. Throws a JobStop (UZP_DAMAGED_ARCHIVE)
// when it cannot be read, or when another end record near the file's end
// would show a reader that takes it another archive (refuseRivalEndRecords;
// a zip stored as an entry does not).
CentralDirectory readCentralDirectory(int fd, uint64_t fileSize, const ArchiveEnd& end);

// Reads every entry's local header to find where its data starts. Throws a
// JobStop (UZP_DAMAGED_ARCHIVE) when a local header is missing.
void locateData(int fd, CentralDirectory& directory);

// Throws a JobStop (UZP_OVERLAPPING_ENTRIES) when the data of one entry runs
// into another entry or into the central directory: archives built that way
// make a few bytes unpack many times over.
void refuseOverlaps(const CentralDirectory& directory);

} // namespace unzip32
