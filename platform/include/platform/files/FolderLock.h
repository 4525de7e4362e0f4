#pragma once

#include "fileio/UniqueFd.h"

#include <optional>
#include <string>

namespace platform {

// An exclusive advisory lock on a folder, held as long as the object lives.
// The system drops it when the process ends, however it ends, so nothing
// stays behind after a crash.
class FolderLock {
public:
    // Takes the lock without waiting, or gives nothing when another process
    // holds it. Raises platform::Error when the folder cannot be opened.
    static std::optional<FolderLock> takeIfFree(const std::string& folder,
                                                const std::string& source);

private:
    FolderLock() = default;
    // False when another process holds it; raises any other failure.
    bool lock(const std::string& folder, const std::string& source);

    fileio::UniqueFd m_fd;
};

} // namespace platform
