#pragma once

// A file put under a new name with exactly the mode asked for: the very file
// under a second name when it has that mode already, else a copy made with
// it (also when the file system refuses the link: another device, protected
// hard links). The new name must not exist yet. Every open, write, link and
// removal goes through fileio/SystemCalls.h.

#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace fileio {

// from is open for reading on a regular file and status is its fstat. 0 or
// the errno value of the failure; a copy that fails part way is removed.
[[nodiscard]] int linkOrCopy(int from, const struct stat& status, const std::string& to,
                             mode_t mode);

} // namespace fileio
