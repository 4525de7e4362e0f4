#pragma once

#include "signature/SignatureLine.h"

#include <cstdint>
#include <span>
#include <string>

namespace signature {

// The end record of a zip archive, found as the unzip library finds it
// (zipformat::findEndRecord); a signature is checked only where the record
// ends the file exactly where its comment length says.
struct ArchiveEnd {
    enum class Kind {
        none,     // no end record in the last 64 KiB and 22 bytes
        trailing, // the last end record's comment stops before the file does
        exact,    // an end record whose comment ends the file
    };
    Kind kind = Kind::none;
    // Offset of the comment-length field: everything before it is signed.
    std::uint64_t commentLengthOffset = 0;
    // Bytes after the comment (Kind::trailing).
    std::uint64_t trailingBytes = 0;
    std::string comment;
};

// The end record in tail, the last bytes of a file that start at tailStart.
ArchiveEnd archiveEndOf(std::span<const unsigned char> tail, std::uint64_t tailStart);

// Reads the end of the open file of fileSize bytes. Throws SignatureError
// when it cannot be read; path is named in the message.
ArchiveEnd readArchiveEnd(int fd, std::uint64_t fileSize, const std::string& path);

// SHA-512 of the file's first length bytes.
ArchiveDigest digestOfStart(int fd, std::uint64_t length, const std::string& path);

} // namespace signature
