#pragma once

// Where a zip archive's end record lies, found from the back of the file the
// one way the unzip library and the signature check both read it.

#include "zipformat/Records.h"

#include <cstddef>
#include <span>
#include <vector>

namespace zipformat {

// How far from the end of a file an end record can start: the record with
// the longest comment. A search reads the file's last endSearchLength bytes,
// or the whole of a shorter file.
inline constexpr std::size_t endSearchLength = endRecordSize + longestComment;

struct EndRecordPlace {
    enum class Fit {
        none,     // no end record whose comment lies within the bytes
        trailing, // the nearest record's comment stops before the bytes do
        exact,    // a record whose comment ends exactly where the bytes do
    };
    Fit fit = Fit::none;
    // Where the record starts in the bytes searched.
    std::size_t offset = 0;
    std::size_t commentLength = 0;
    // How many bytes follow the comment (Fit::trailing).
    std::size_t trailingBytes = 0;
};

// Searches tail, the end of a file, from the back: the first end record
// whose comment ends exactly with tail is the one the unzip library and the
// signature check take; without one, the record nearest the end whose comment
// lies wholly inside tail, with the bytes that follow it. A record whose
// comment would run past the end counts for nothing.
EndRecordPlace findEndRecord(std::span<const unsigned char> tail);

// Every place in tail where an end record may start, nearest the end first:
// its signature, followed by a comment that lies wholly inside tail. Other
// readers (libzip among them) may take any of these that locates a directory
// they can read, not the one findEndRecord takes; a reader that takes that
// one judges the others by the rule of zipformat/OtherEndRecords.h.
std::vector<std::size_t> endRecordCandidates(std::span<const unsigned char> tail);

} // namespace zipformat
