#pragma once

// A package's central directory, read from the bytes of its tail: what the
// updater fetches first to learn where each entry lies. The tail comes from
// a server, so reading it is bounded by the bytes given and refuses anything
// malformed.

#include "delta/Sha256.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace delta {

struct DirectoryEntry {
    std::string name; // as the archive stores it
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localHeaderOffset = 0;
    // Where its central record lies in the package, and its length.
    std::uint64_t recordOffset = 0;
    std::uint64_t recordSize = 0;
    // MS-DOS time and date; bit 0 of the internal attributes marks text.
    std::uint16_t modifiedTime = 0;
    std::uint16_t modifiedDate = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    // The modification time of the record's extended timestamp field.
    std::optional<std::int32_t> extendedModified = std::nullopt;
};

// The time unpacking gives the entry's file: the record's extended
// timestamp, else its MS-DOS time and date as local time.
std::int64_t modifiedSeconds(const DirectoryEntry& entry);

// Bytes of the package, from offset on.
struct ByteSpan {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;

    bool operator==(const ByteSpan&) const = default;
};

// The most bytes an entry's span can need: its local header with the name
// and the longest extra field, its data, and the longest data descriptor.
std::uint64_t longestSpan(const DirectoryEntry& entry);

struct PackageDirectory {
    std::vector<DirectoryEntry> entries; // in the directory's order
    // What each entry occupies, index for index: from its local header to the
    // next entry's local header in offset order, the last one's to the
    // directory's start; local header, data and any data descriptor, and
    // never more than longestSpan.
    std::vector<ByteSpan> spans;
    std::uint64_t directoryOffset = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t packageSize = 0;

    // The index of the entry of exactly this name, or entries.size().
    std::size_t find(std::string_view name) const;
};

struct DirectoryReading {
    enum class Outcome {
        read,      // directory holds the package's directory
        needsMore, // the tail is too short: fetch bytesNeeded from the end
        refused,   // not a package whose entries can be fetched one by one: why
    };
    Outcome outcome = Outcome::refused;
    PackageDirectory directory;
    std::uint64_t bytesNeeded = 0;
    std::string why;
};

// Reads the directory of a package of packageSize bytes from tail, its last
// tail.size() bytes: the end record (found as every reader here finds it;
// its comment must end the package), the zip64 records when there are, and
// every central record, each of which must lie inside the directory, which
// the records must fill exactly. Refused as well: entries whose spans
// overlap (a span too short for the local header, the name and the data),
// a span longer than its entry can need (bytes between entries that a fetch
// would bring for nothing), a local header at or past the directory, more
// than one entry of a name.
// A tail shorter than what it takes names how many bytes from the end are
// needed.
DirectoryReading readPackageDirectory(std::span<const unsigned char> tail,
                                      std::uint64_t packageSize);

// The SHA-256 of the directory's records, from the first central record to
// the last, out of the tail that readPackageDirectory read it from: what a
// signed release line names, so that every record's fields (names, times,
// attributes) are as trusted as the package.
Sha256 directoryDigest(std::span<const unsigned char> tail, const PackageDirectory& directory);

} // namespace delta
