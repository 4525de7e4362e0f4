#include "AccessRights.h"

#include "SystemFailure.h"

#include <cerrno>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace unzip32 {

namespace {

constexpr mode_t usualFileBits = 0666;
constexpr mode_t usualFolderBits = 0777;
constexpr mode_t assumedUmask = 022;
// The owner can always read and replace what was extracted, and remove what
// a folder holds, whatever the archive recorded: the caller must be able to
// clear its extraction folder and overwrite these files the next time.
constexpr mode_t ownerFileBits = S_IRUSR | S_IWUSR;
constexpr mode_t ownerFolderBits = S_IRWXU;

} // namespace

TargetAttributes attributesFor(const EntryInfo& entry, int privilegeLevel, mode_t umask) {
    TargetAttributes attributes;
    const bool folder = entry.kind == EntryKind::Folder;
    const mode_t usual = folder ? usualFolderBits : usualFileBits;
    const mode_t recorded =
        privilegeLevel >= 0 && entry.permissions ? (*entry.permissions & 0777) : usual;
    attributes.permissions = (recorded & ~umask) | (folder ? ownerFolderBits : ownerFileBits);
    if (privilegeLevel >= 1 && ::geteuid() == 0) {
        attributes.owner = entry.owner;
        attributes.group = entry.group;
    }
    attributes.modified.tv_sec = entry.modified;
    return attributes;
}

void applyAttributes(int fd, const TargetAttributes& attributes, const char* what) {
    if (attributes.owner || attributes.group) {
        [[maybe_unused]] const int ignored =
            ::fchown(fd, attributes.owner.value_or(static_cast<uid_t>(-1)),
                     attributes.group.value_or(static_cast<gid_t>(-1)));
    }
    if (::fchmod(fd, attributes.permissions) != 0) {
        throwSystemFailure(errno, std::string("cannot set the permissions of the ") + what);
    }
    const timespec times[2] = {attributes.modified, attributes.modified};
    if (::futimens(fd, times) != 0) {
        throwSystemFailure(errno, std::string("cannot set the time of the ") + what);
    }
}

// Linux shows the mask in the process status; asking umask() for it would
// change it for a moment under every other thread.
mode_t processUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            try {
                return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
            } catch (const std::exception&) {
                break;
            }
        }
    }
    return assumedUmask;
}

} // namespace unzip32
