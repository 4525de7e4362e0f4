#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Fails before the work when the file system holding folder has less than
// needed bytes free: error 61 "Disk full: the package needs 412 MB on
// /opt/morvane, 96 MB are free", what being "the package". A file system
// that cannot tell its free space passes; the work then finds out itself.
void requireRoom(const std::string& folder, std::uint64_t needed, const std::string& what,
                 const std::string& source);

} // namespace platform
