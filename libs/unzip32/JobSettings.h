#pragma once

#include "unzip32.h"

#include <string>

namespace unzip32 {

enum class JobKind { Extract, StandardOutput, Test, List };

// The option record read once into plain terms.
struct JobSettings {
    JobKind kind = JobKind::Extract;
    bool onlyNewer = false;
    bool freshen = false;
    bool spacesToUnderscores = false;
    bool promptBeforeOverwrite = false;
    bool overwriteExisting = false;
    bool honorDirectories = false;
    bool translateLineEnds = false;
    bool displayComment = false;
    bool verbose = false;
    bool caseSensitiveMatching = false;
    int quietLevel = 0;
    int privilegeLevel = 0;
    std::string archivePath;
    // Empty for the current folder.
    std::string extractionFolder;
};

JobSettings readSettings(const UzpOptions& options);

} // namespace unzip32
