#pragma once

#include <string>

namespace platform {

// Opens a file by name the way the desktop would: an executable regular file
// is started directly, anything else is handed to xdg-open. The new process
// runs in its own session with its standard streams on /dev/null, in the
// given working folder, is never waited for and outlives the caller. The
// name travels as an argument, never through a shell command line. Whether
// anything was started is not reported.
void shellOpen(const std::string& file, const std::string& workingFolder);

} // namespace platform
