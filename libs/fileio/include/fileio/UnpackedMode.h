#pragma once

// The permission bits of what is unpacked, one rule for the unzip library and
// for the update that takes unchanged files from the installation instead:
// the read, write and execute bits recorded (never set-user-ID, set-group-ID
// or sticky), less the process's file creation mask, and always open to the
// owner, so that the folder unpacked into can be emptied and a later update
// can replace what this one installed.

#include <optional>
#include <string_view>
#include <sys/types.h>

namespace fileio {

// A file: readable and writable by its owner whatever was recorded.
mode_t unpackedFileMode(mode_t recorded, mode_t umask);
// A folder: readable, writable and searchable by its owner.
mode_t unpackedFolderMode(mode_t recorded, mode_t umask);

// The process's file creation mask, read without changing it: asking
// umask(2) would change it for a moment under every other thread.
mode_t processUmask();
// The mask a process status text gives on its "Umask:" line, in octal;
// nothing when there is no such line or it holds no plain octal number.
std::optional<mode_t> umaskInStatus(std::string_view status);

} // namespace fileio
