#pragma once

#include "EntryInfo.h"

#include <ctime>
#include <optional>
#include <sys/types.h>

namespace unzip32 {

// What extraction gives a created file or folder besides its data.
struct TargetAttributes {
    mode_t permissions = 0644;
    std::optional<uid_t> owner;
    std::optional<gid_t> group;
    timespec modified{};
};

// The attributes for an entry under the privilege level of the option
// record (see unzip32.h). umask is the process's file creation mask.
TargetAttributes attributesFor(const EntryInfo& entry, int privilegeLevel, mode_t umask);

// Gives the open file or folder its owner (where the system allows it),
// permissions and modification time. what names it in a failure message.
void applyAttributes(int fd, const TargetAttributes& attributes, const char* what);

} // namespace unzip32
