#pragma once

#include <string>

namespace publisher {

// A private folder beside the served files, on their file system, where the
// next package and version text are made complete before they are renamed
// into place. It is removed with whatever is left in it when the object goes
// away, so a refused or failed publication leaves nothing behind.
class StagingFolder {
public:
    explicit StagingFolder(const std::string& servedFolder);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Writes text as the whole content of a new file; PublishError on failure.
void writeNewFile(const std::string& path, const std::string& text);

} // namespace publisher
