#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>

namespace unzip32 {

enum class EntryKind { File, Folder, SymbolicLink };

// What the archive records of one entry.
struct EntryInfo {
    uint64_t index = 0;
    // As stored, in UTF-8.
    std::string name;
    EntryKind kind = EntryKind::File;
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    uint32_t crc = 0;
    uint16_t compressionMethod = 0;
    uint16_t encryptionMethod = 0;
    std::time_t modified = 0;
    // False when the time comes from the two-second MS-DOS field only.
    bool modifiedExactly = false;
    // The read, write and execute bits, when the archive records them.
    std::optional<mode_t> permissions;
    std::optional<uid_t> owner;
    std::optional<gid_t> group;
    // The archive marks the entry as text.
    bool markedText = false;
    // For AES encryption, the format version: 2 leaves the CRC-32 out and
    // relies on the authentication code alone.
    uint16_t aesVersion = 0;
    // Where the entry's stored bytes start in the archive file.
    uint64_t dataOffset = 0;

    bool encrypted() const { return encryptionMethod != 0; }
    bool aesEncrypted() const;
    // Whether the recorded CRC-32 is the data's.
    bool crcRecorded() const { return !(aesVersion == 2 && crc == 0); }
};

// "Stored", "Deflate", ... for a compression method number.
const char* methodName(uint16_t compressionMethod);

} // namespace unzip32
