#pragma once

#include "ArchiveFile.h"
#include "FileSource.h"
#include "Reporter.h"

#include <zip.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zip32 {

// An entry found by its local header whose data checked out.
struct RecoveredEntry {
    std::string name;
    bool utf8Name = false;
    uint16_t method = 0;
    uint64_t dataOffset = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
    std::time_t modified = 0;
};

// Walks the archive's local headers, whatever its central directory says,
// and keeps the stored and deflated entries whose data inflates to their
// size and CRC; each entry given up is reported. Throws JobFailure when the
// archive cannot be read or nothing checks out.
std::vector<RecoveredEntry> recoverEntries(const ArchiveFile& file, const Reporter& reporter);

// Adds the recovered entries to archive, their data copied as it is.
void addRecovered(zip_t* archive, const std::vector<RecoveredEntry>& entries,
                  const std::string& path, ReadFailure& failure);

// The length of what stands before the first local header (a
// self-extractor's program); 0 when the file starts with an entry or has none.
uint64_t prefixLength(const std::string& path);

} // namespace zip32
