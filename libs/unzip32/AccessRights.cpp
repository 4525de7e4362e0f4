#include "AccessRights.h"

#include "SystemFailure.h"
#include "fileio/UnpackedMode.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace unzip32 {

namespace {

constexpr mode_t usualFileBits = 0666;
constexpr mode_t usualFolderBits = 0777;

} // namespace

TargetAttributes attributesFor(const EntryInfo& entry, int privilegeLevel, mode_t umask) {
    TargetAttributes attributes;
    const bool folder = entry.kind == EntryKind::Folder;
    const mode_t usual = folder ? usualFolderBits : usualFileBits;
    const mode_t recorded = privilegeLevel >= 0 && entry.permissions ? *entry.permissions : usual;
    // The owner can always clear the extraction folder and overwrite these
    // files the next time, whatever the archive recorded.
    attributes.permissions = folder ? fileio::unpackedFolderMode(recorded, umask)
                                    : fileio::unpackedFileMode(recorded, umask);
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

} // namespace unzip32
