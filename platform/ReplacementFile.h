#pragma once

#include "fileio/UniqueFd.h"

#include <string>
#include <sys/types.h>

namespace platform {

// The new content of a file, written under a temporary name in the target's
// folder and renamed over the target only when complete, so that the target
// is always either the old file or the new one. Until then the temporary
// file is removed on every way out. Failures raise platform::Error with the
// given source label.
class ReplacementFile {
public:
    ReplacementFile(const std::string& target, std::string source);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    const std::string& temporaryPath() const { return m_temporaryPath; }

    // Appends everything readable from the descriptor.
    void copyFrom(int input, const std::string& inputPath);
    // Sets the permission bits, flushes the content to disk and closes.
    void finish(mode_t permissions);
    // Renames the finished file over the target.
    void commit();

private:
    std::string m_target;
    std::string m_source;
    std::string m_temporaryPath;
    fileio::UniqueFd m_fd;
    bool m_committed = false;
};

} // namespace platform
