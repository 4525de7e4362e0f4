#pragma once

#include <cstdint>
#include <string>

namespace CodeModule {

// Runs one job of the unzip library with these options and returns its
// result unchanged (0 for success). The library is loaded from the
// installation folder for the call; a failure to load it or to find an
// entry point is raised with the source "CodeModule::VBUnzip".
int32_t VBUnzip(const std::string& zipFileName, const std::string& extractDir, int16_t extractNewer,
                int16_t spaceToUnderScore, int16_t promptOverwrite, int16_t messageLevel,
                int16_t writeToStdOut, int16_t testZip, int16_t extractList,
                int16_t extractOnlyNewer, int16_t displayComment, int16_t honorDirectories,
                int16_t overWriteFiles, int16_t convertCRtoCRLF, int16_t verbose,
                int16_t caseSensitive, int16_t privilege);

} // namespace CodeModule
