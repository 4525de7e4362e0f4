#include "platform/version/FileVersion.h"

#include "version/ElfVersion.h"
#include "version/PeVersion.h"

namespace platform {

std::string readFileVersion(const ByteSource& file) {
    // Each reader looks for its own signature and gives the empty text for
    // anything else.
    std::string version = readPeVersion(file);
    return version.empty() ? readElfVersion(file) : version;
}

} // namespace platform
