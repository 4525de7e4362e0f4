#pragma once

// The archive an update makes of the entries it fetches, for the unzip
// library to unpack in place of the package: each entry's span as the
// package holds it (its local header, data and any data descriptor), one
// after another, then a directory of its own. Each central record is made
// from the package's directory entry, with the mode the signed manifest
// lists in place of whatever the package's own record says, so that
// unpacking gives every file the manifest's mode. In each local header's
// extra field every field but the zip64 one (the header's sizes) is blanked
// as it passes: given an id no reader knows and zeros for data, so that no
// time, owner or name from bytes no signature covers reaches unpacking. It
// takes only entries that every reader here reads with zlib alone and
// numbers that fit records without zip64 fields.
//
// Begun by making one, each entry added before its span's bytes are written,
// closed by finish; the bytes go to the sink as they come.

#include "delta/PackageDirectory.h"
#include "zipformat/Records.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace delta {

class GatheredArchive {
public:
    using Sink = std::function<void(std::span<const unsigned char> bytes)>;

    explicit GatheredArchive(Sink sink);

    // The entry whose span of spanLength bytes the next writes bring, to be
    // unpacked with the permission bits of mode. The reason it cannot be
    // taken: encrypted or compressed other than by deflate, a size or place
    // past what records without zip64 fields hold, more entries than they
    // count; the archive is as it was then.
    std::optional<std::string> add(const DirectoryEntry& entry, std::uint64_t spanLength,
                                   std::uint16_t mode);

    // The next bytes of the spans added, in the order they were added.
    void write(std::span<const unsigned char> bytes);

    // Writes the directory and the end record. The reason the archive
    // cannot be closed (the spans' bytes are not exactly those added, the
    // directory lies past what the end record holds), and then nothing is
    // written.
    std::optional<std::string> finish();

private:
    // Blanks the extra field of the local header in m_header.
    void blankExtraField();

    Sink m_sink;
    std::string m_directory;
    std::vector<std::uint64_t> m_spans; // the spans' lengths, in order
    std::size_t m_span = 0;
    std::uint64_t m_inSpan = 0;
    // Where the current span's local header, name and extra field end, and
    // as much of them as has come.
    std::uint64_t m_headerEnd = zipformat::localHeaderSize;
    std::vector<unsigned char> m_header;
    std::uint64_t m_entries = 0;
    std::uint64_t m_added = 0;   // the spans' bytes added
    std::uint64_t m_written = 0; // and written
};

} // namespace delta
