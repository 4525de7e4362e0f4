#pragma once

// An exclusive advisory lock (flock) on a folder, taken without waiting and
// held for as long as the descriptor stays open; the system drops it when
// the process ends, however it ends.

#include "fileio/UniqueFd.h"

#include <string>

namespace fileio {

// Opens the folder and locks it; an empty descriptor with errno set when it
// cannot be opened or locked (EWOULDBLOCK: another holds the lock). With
// followLinks false, a symbolic link in the folder's place is not opened.
[[nodiscard]] UniqueFd lockFolder(const std::string& path, bool followLinks);

} // namespace fileio
