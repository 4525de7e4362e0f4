#pragma once

#include "platform/version/ByteSource.h"

#include <string>

namespace platform {

// "a.b.c.d" from the package metadata note of an ELF file (section
// ".note.package", owner "FDO"); empty when the bytes are not an ELF file,
// carry no such note, or are malformed anywhere on the way to it.
std::string readElfVersion(const ByteSource& file);

} // namespace platform
