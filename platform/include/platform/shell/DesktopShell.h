#pragma once

#include "platform/shell/Shell.h"

namespace platform {

// An executable regular file is started directly, anything else is handed
// to xdg-open. The new process runs in its own session with its standard
// streams on /dev/null, in the given working folder, is never waited for and
// outlives the caller. The name travels as an argument, never through a
// shell command line.
class DesktopShell : public Shell {
public:
    void open(const std::string& file, const std::string& workingFolder) override;
};

} // namespace platform
