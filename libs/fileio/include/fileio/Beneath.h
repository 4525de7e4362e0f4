#pragma once

// Reaching a folder below another without passing through a symbolic link.
// What stands at a path now may not be what stood there when the path was
// written down: a folder replaced by a link since must not lead a removal or
// a rename out of the folder it was meant for. Goes through the seam
// (fileio/SystemCalls.h): openat2 where the kernel has it, else a walk that
// opens one piece at a time and looks at each before going on.

#include "fileio/UniqueFd.h"

#include <string_view>

namespace fileio {

// Whether path is relative and direct: pieces separated by "/", none of
// them empty, "." or "..", so that it cannot step out of the folder it is
// read in. The empty path is not.
bool directBelow(std::string_view path);

// Opens for reading the folder at path below the folder open on folder (the
// empty path: that folder itself). An empty UniqueFd with errno set when it
// cannot: ELOOP when a symbolic link stands on the way or at the end,
// ENOTDIR when something else than a folder does, EXDEV when path is not
// relative and direct, or what the system says (ENOENT, EACCES, ...).
UniqueFd openFolderBeneath(int folder, std::string_view path);

} // namespace fileio
