#pragma once

// The records that close an archive, written from their fields: a central
// record without extra field or comment, and the end record of an archive
// on one disk without comment. For archives whose every number fits its
// field (no zip64 records); the caller checks that with fitsInRecord and
// mostEntriesInRecord.

#include "zipformat/Directory.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zipformat {

// The high byte of "version made by": the external attributes' high half is
// a Unix mode.
inline constexpr std::uint16_t madeOnUnix = 3 << 8;
// The version a reader needs for deflated data and folders.
inline constexpr std::uint16_t versionForDeflate = 20;

// External attributes, made on Unix, of a regular file with these
// permission bits.
constexpr std::uint32_t unixFileAttributes(std::uint16_t mode) {
    constexpr std::uint32_t regularFile = 0100000;
    return (regularFile | (mode & 07777u)) << 16;
}

// Whether a size or offset fits a 32-bit field: its last value says that the
// number lies in a zip64 field instead.
constexpr bool fitsInRecord(std::uint64_t value) {
    return value < inZip64Field;
}
inline constexpr std::uint64_t mostEntriesInRecord = 0xfffe;

struct CentralRecord {
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t modifiedTime = 0;
    std::uint16_t modifiedDate = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::string_view name; // at most longestName bytes
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;
};

void appendCentralRecord(std::string& out, const CentralRecord& record);

// entryCount records make up the directory of directorySize bytes at
// directoryOffset.
void appendEndRecord(std::string& out, std::uint16_t entryCount, std::uint32_t directorySize,
                     std::uint32_t directoryOffset);

} // namespace zipformat
