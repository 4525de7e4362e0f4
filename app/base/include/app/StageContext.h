#pragma once

#include "platform/files/FileSystem.h"

#include <string>

namespace updater {

// What the window gives every stage of an update run: the window kept alive
// (its events handled once, or all along a pause of so many seconds) and
// its file-system service, made at its first use and kept as long as the
// window.
class StageContext {
public:
    virtual void pump() = 0;
    // The same from a loop that pumps again and again as it works (every
    // chunk of a download); the window's toolkit may handle its events at
    // most so often that nobody can tell.
    virtual void pumpWhileBusy() = 0;
    virtual void pause(double seconds) = 0;
    virtual platform::FileSystem& files() = 0;

    // The path with "\" read as "/" and every existing component in the
    // letter case found on disk.
    std::string resolve(const std::string& path) { return files().resolve(path); }

protected:
    ~StageContext() = default;
};

} // namespace updater
