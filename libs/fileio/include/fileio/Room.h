#pragma once

// Room on the disk, looked at before work that fills it, so that a disk too
// small fails the work at once, in a sentence the user can act on, instead of
// part way through it.

#include <cstdint>
#include <optional>
#include <string>

namespace fileio {

// The bytes a writer without privileges may still put on the file system
// that holds path (through the seam's statvfs); nullopt, with errno set,
// when the system cannot tell.
std::optional<std::uint64_t> freeBytes(const std::string& path);

// Too little room on the file system that holds a folder, in a sentence.
struct RoomShortfall {
    std::string sentence;
    // The need is more than the whole file system holds: no clearing up
    // makes room, so the disk is not said to be full.
    bool beyondDisk = false;
};

// "the package needs 412 MB on /opt/morvane, 96 MB are free", with what
// first; for a need past the file system's whole size, "the package needs
// 1000000001 MB, more than the disk that holds /opt/morvane can hold
// (252000 MB in all)". Sizes are in the unit that suits the need (bytes, KB
// or MB, decimal), the need rounded up and the room down. Nullopt when there
// is room, or when the system cannot tell (the work then finds out).
std::optional<RoomShortfall> roomShortfall(const std::string& folder, std::uint64_t needed,
                                           const std::string& what);

} // namespace fileio
