#pragma once

// How this library fails, everywhere: it never raises. A call gives back the
// errno value of what failed (0 for none), or an empty descriptor, or false,
// with errno set, as the system call under it does; callers above say it in
// words with what follows.
//
// What the errno value of a failed call means, told the one way both zip
// libraries tell it: in the system's own words, and whether room on the disk
// would cure it.

#include <string>

namespace fileio {

// The system's words for error, from any thread.
std::string systemReason(int error);

// Whether the disk or the user's quota is full (ENOSPC, EDQUOT): the failure
// that the libraries report apart, as one a user can mend by making room.
bool isDiskFull(int error);

} // namespace fileio
