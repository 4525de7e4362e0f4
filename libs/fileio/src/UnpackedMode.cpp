#include "fileio/UnpackedMode.h"

#include <exception>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace fileio {

namespace {

constexpr mode_t permissionBits = 0777;
// What a process whose mask cannot be read most likely has.
constexpr mode_t assumedUmask = 022;

mode_t unpackedMode(mode_t recorded, mode_t umask, mode_t owner) {
    return (recorded & permissionBits & ~umask) | owner;
}

} // namespace

mode_t unpackedFileMode(mode_t recorded, mode_t umask) {
    return unpackedMode(recorded, umask, S_IRUSR | S_IWUSR);
}

mode_t unpackedFolderMode(mode_t recorded, mode_t umask) {
    return unpackedMode(recorded, umask, S_IRWXU);
}

// Linux shows the mask in the process's status.
mode_t processUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            try {
                return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & permissionBits);
            } catch (const std::exception&) {
                break;
            }
        }
    }
    return assumedUmask;
}

} // namespace fileio
