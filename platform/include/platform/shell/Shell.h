#pragma once

#include <string>

namespace platform {

// Opens or starts a file by name, the way the desktop would. The caller
// never waits for what it started and learns nothing of how it went.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void open(const std::string& file, const std::string& workingFolder) = 0;
};

} // namespace platform
